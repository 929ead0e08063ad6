#!/usr/bin/env bash
# Sets up, builds and starts Korrin Tavrel from the repository root, where it
# finds its img/ and snd/ folders.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
korrin_install_packages
korrin_build build -DBUILD_TESTING=OFF
cd "$KORRIN_ROOT"
exec ./build/korrin-tavrel
