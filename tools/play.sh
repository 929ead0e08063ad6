#!/usr/bin/env bash
# Sets up, builds and starts Korrin Tavrel through the build tree's launcher,
# which tells it to find its img/ and snd/ folders in the repository root and
# runs it on sdl12-compat where the machine has it (as the installed launcher
# does).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
korrin_install_packages
korrin_build build -DBUILD_TESTING=OFF
exec "$KORRIN_ROOT/build/play/korrin-tavrel"
