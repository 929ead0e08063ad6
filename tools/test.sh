#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: once on the normal build and
# once on a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
korrin_install_packages

korrin_build build -DBUILD_TESTING=ON
ctest --test-dir "$KORRIN_ROOT/build" --output-on-failure -j"$(nproc)"

korrin_build build-sanitize -DBUILD_TESTING=ON -DKORRIN_SANITIZE=ON
export LSAN_OPTIONS="suppressions=$KORRIN_ROOT/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$KORRIN_ROOT/build-sanitize" --output-on-failure -j"$(nproc)"
