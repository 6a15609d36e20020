#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the six tray images of the receiver as SVG sources and renders them
# to PNG at the sizes the tray asks for. The frame colour gives the state
# (red: disconnected, green: receiving, yellow: hidden); the centre
# alternates every 500 ms while the icon blinks.
#   tray-<frame>-<centre>.svg  ->  tray-<frame>-<centre>-{16,22,32,48}.png
# The program icon (icons/qvrecv.svg) is the disconnected image with the
# green centre.
set -eu
cd "$(dirname "$0")"

colour() {
  case $1 in
    red) echo '#d42020' ;;
    green) echo '#1f9e2c' ;;
    yellow) echo '#f2c811' ;;
  esac
}

svg() {  # frame centre
  f=$(colour "$1"); c=$(colour "$2")
  cat <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
  <rect x="5" y="5" width="22" height="22" fill="none" stroke="$f" stroke-width="3"/>
  <circle cx="5" cy="5" r="4" fill="$f" stroke="#202020" stroke-width="1"/>
  <circle cx="27" cy="5" r="4" fill="$f" stroke="#202020" stroke-width="1"/>
  <circle cx="5" cy="27" r="4" fill="$f" stroke="#202020" stroke-width="1"/>
  <circle cx="27" cy="27" r="4" fill="$f" stroke="#202020" stroke-width="1"/>
  <circle cx="16" cy="16" r="7" fill="$c" stroke="#202020" stroke-width="1"/>
</svg>
SVG
}

for pair in red-red red-green green-yellow green-green yellow-green yellow-yellow; do
  frame=${pair%-*}; centre=${pair#*-}
  svg "$frame" "$centre" > "tray-$pair.svg"
  for size in 16 22 32 48; do
    convert -background none -density $((96 * size / 32)) "tray-$pair.svg" \
      -resize "${size}x${size}" "PNG32:tray-$pair-$size.png"
  done
done

mkdir -p ../icons
cp tray-red-green.svg ../icons/qvrecv.svg
for size in 16 22 24 32 48 64 128 256; do
  convert -background none -density $((96 * size / 32)) ../icons/qvrecv.svg \
    -resize "${size}x${size}" "PNG32:../icons/qvrecv-$size.png"
done
