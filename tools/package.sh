#!/usr/bin/env bash
# Builds Korrin Tavrel's Debian package (binary only, unsigned) with
# dpkg-buildpackage and debhelper. It builds in a copy of the working tree
# (without .git and the build folders) in build-deb/, so the tree itself is
# left as it was; the .deb lands in build-deb/ and its path is the last line
# printed. Installs the packaging tools and the build dependencies first,
# only those that are missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

KORRIN_PACKAGES=(dpkg-dev debhelper lintian appstream desktop-file-utils man-db)
korrin_install_packages

out="$KORRIN_ROOT/build-deb"
version=$(dpkg-parsechangelog -l "$KORRIN_ROOT/debian/changelog" -SVersion)
tree="$out/korrin-tavrel-${version%-*}"
rm -rf "$out"
mkdir -p "$tree"
tar -C "$KORRIN_ROOT" --exclude=./.git --exclude='./build*' -cf - . | tar -C "$tree" -xf -
# The shared copy of the libraries the game builds with it (libdatachannel),
# where the build looks for it: beside the tree.
if [ -d "$KORRIN_ROOT/../shared/vendor" ]; then
  mkdir -p "$out/shared"
  ln -s "$(cd "$KORRIN_ROOT/../shared/vendor" && pwd)" "$out/shared/vendor"
fi

cd "$tree"
if ! dpkg-checkbuilddeps 2>/dev/null; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get build-dep -y -qq --no-install-recommends ./
fi
dpkg-buildpackage --build=binary --no-sign -J"$(nproc)"
echo "$out/korrin-tavrel_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb"
