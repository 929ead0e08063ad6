#!/usr/bin/env bash
# Sets up, builds and starts Korrin Tavrel through the build tree's launcher,
# which runs it in the repository root, where it finds its img/ and snd/
# folders, and on sdl12-compat where the machine has it (as the installed
# launcher does).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
korrin_install_packages
korrin_build build -DBUILD_TESTING=OFF
exec "$KORRIN_ROOT/build/play/korrin-tavrel"
