#!/bin/sh
# Builds the Debian package with tools/package.sh, then holds what it made to
# the checks of Debian's and freedesktop's tools: any complaint fails.
set -eu
root=$1
deb=$("$root/tools/package.sh" | tail -n 1)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
status=0
fail() { echo "FAIL: $*"; status=1; }

# What players get: the launcher, the game, its data, and what puts it in
# the desktop's menu and in the software centre.
for f in usr/games/korrin-tavrel usr/libexec/korrin-tavrel/korrin-tavrel \
         usr/share/games/korrin-tavrel/img/game.png usr/share/games/korrin-tavrel/snd/bounce.wav \
         usr/share/applications/korrin-tavrel.desktop usr/share/man/man6/korrin-tavrel.6.gz \
         usr/share/metainfo/io.github.korrin_tavrel.korrin_tavrel.metainfo.xml \
         $(for n in 48 64 128 256; do echo usr/share/icons/hicolor/${n}x$n/apps/korrin-tavrel.png; done); do
  [ -s "$tree/$f" ] || fail "$f is not in the package"
done

# The packaged launcher, run in another folder, reads a relative file name there.
cp "$root/tests/replays/two-player-escape-ball1.krp" "$tree/m.krp"
(cd "$tree" && usr/games/korrin-tavrel --verify m.krp >/dev/null) || fail "--verify m.krp in $tree"

lintian --fail-on error,warning "$deb" || fail "lintian"
appstream=$(appstreamcli validate --no-net --pedantic "$tree"/usr/share/metainfo/*.xml) || fail "appstreamcli: $appstream"
! echo "$appstream" | grep -q '^[EW]:' || fail "appstreamcli: $appstream"
desktop=$(desktop-file-validate "$tree/usr/share/applications/korrin-tavrel.desktop" 2>&1) || true
[ -z "$desktop" ] || fail "desktop-file-validate: $desktop"
man=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$tree/usr/share/man/man6/korrin-tavrel.6.gz" 2>&1 >/dev/null) || true
[ -z "$man" ] || fail "man: $man"
exit $status
