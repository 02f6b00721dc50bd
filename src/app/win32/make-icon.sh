#!/usr/bin/env bash
# Draws the program's icon (a package with an arrow going into it, on the
# wizard's blue) and writes oupdate.ico with 48, 32 and 16 pixel images.
# Needs ImageMagick. Run it again after changing the drawing; the .ico is
# committed so the build does not need ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

# The emblem's points in a 134 x 145 frame, placed on a 256 x 256 canvas.
p() { # x y ... -> "X,Y X,Y ..."
    local out=""
    while (($#)); do
        out+="$(( 28 + $1 * 3 / 2 )),$(( 22 + $2 * 3 / 2 )) "
        shift 2
    done
    echo "$out"
}

big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT
convert -size 256x256 xc:none \
    -fill '#3D66AB' -stroke '#223260' -strokewidth 8 -draw 'roundrectangle 8,8 248,248 40,40' \
    -stroke '#E8EEFA' -strokewidth 4 \
    -fill '#7C9BDD' -draw "polygon $(p 27 78 67 96 67 136 27 118)" \
    -fill '#5C7FCB' -draw "polygon $(p 67 96 107 78 107 118 67 136)" \
    -fill '#A9C0EE' -draw "polygon $(p 27 78 67 60 107 78 67 96)" \
    -stroke '#C9D6F2' -fill '#FFFFFF' \
    -draw "polygon $(p 58 6 76 6 76 42 92 42 67 70 42 42 58 42)" \
    "$big"
convert "$big" -define icon:auto-resize=48,32,16 oupdate.ico
ls -l oupdate.ico
