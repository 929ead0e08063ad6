#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
korrin_install_packages
korrin_build build -DBUILD_TESTING=ON
ctest --test-dir "$KORRIN_ROOT/build" --output-on-failure -j"$(nproc)"
