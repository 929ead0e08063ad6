#!/bin/sh
# The committed artwork, font and sounds are exactly what tools/make_assets.py
# makes: regenerate them into a scratch folder and compare byte for byte.
set -eu
root=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
/usr/bin/python3 "$root/tools/make_assets.py" "$out"
status=0
for f in img/game.png img/game-sprites.png img/menu.png img/menu-opts.png \
         img/hyperfont.ttf img/icon.png snd/bounce.wav snd/menu-opt.wav \
         $(for n in 16 32 48 64 128 256; do echo dist/icons/hicolor/${n}x$n/apps/korrin-tavrel.png; done) \
         web/icons/icon-192.png web/icons/icon-512.png; do
  cmp "$out/$f" "$root/$f" || status=1
done
exit $status
