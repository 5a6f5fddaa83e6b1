#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Regenerates the window's artwork in src/window/resources/ from the sources in this folder:
#   stb.pov          -> background.jpg          (ray-traced photograph, 492 x 422)
#   tarvik-icon.svg  -> tarvik.ico (32 and 16, 16 colours) and icons/tarvik-{16,32,48,128,256}.png
#   hand.xpm         -> hand.png                (link cursor, 32 x 32, hot spot 12,1)
#
# Needs the Debian packages povray, imagemagick, librsvg2-bin and python3
# (make-ico.py writes the icon file; ImageMagick leaves out the icon's transparency mask).
# The outputs are committed, so building the program does not need any of this.
# The result is the same on every run: the render runs on one thread (the multi-threaded
# radiosity pretrace differs from run to run), the grain has a fixed seed and no file
# carries a time stamp. The render takes about a minute.
#
# Usage: art/build-art.sh [--no-render]   (--no-render keeps the existing background.jpg)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/../src/window/resources/icons"
out=$(cd "$here/../src/window/resources" && pwd)

render=yes
if [ "${1:-}" = "--no-render" ]; then
    render=no
fi

for tool in convert rsvg-convert python3 od; do
    command -v "$tool" >/dev/null 2>&1 || { echo "build-art.sh: $tool is missing" >&2; exit 1; }
done
if [ "$render" = yes ]; then
    command -v povray >/dev/null 2>&1 || { echo "build-art.sh: povray is missing" >&2; exit 1; }
fi

# POV-Ray may only write below /tmp or into its working folder, so it works in a scratch folder.
work=$(mktemp -d /tmp/tarvik-art.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM

# PNG files without time stamps or other ancillary chunks, always 8-bit RGBA.
png_opts="-strip -define png:exclude-chunks=date,time"

# ---------------------------------------------------------------- background photograph

if [ "$render" = yes ]; then
    cp "$here/stb.pov" "$work/"
    (
        cd "$work"
        povray +Istb.pov +Orender.png +FN16 +W492 +H422 \
               +A0.1 +AM2 +R3 -J +WT1 -D -P 2>povray.log \
            || { cat povray.log >&2; exit 1; }
    )
    # A touch of lens softness and fine luminance grain, then a high-quality JPEG.
    convert "$work/render.png" -gaussian-blur 0x0.35 \
        \( -size 492x422 xc:gray50 -seed 4711 -attenuate 0.5 +noise Gaussian -colorspace gray \) \
        -compose softlight -composite \
        -strip -sampling-factor 1x1 -quality 92 "$out/background.jpg"
fi

# ---------------------------------------------------------------- icon

# The 16-pixel picture is drawn separately in the same file, at x 40 (see the SVG).
sed -e 's/viewBox="0 0 32 32"/viewBox="40 0 16 16"/' \
    -e 's/width="32" height="32"/width="16" height="16"/' \
    "$here/tarvik-icon.svg" >"$work/icon-small.svg"

rsvg-convert -w 16 -h 16 "$work/icon-small.svg" -o "$work/icon-16.png"
for size in 32 48 128 256; do
    rsvg-convert -w $size -h $size "$here/tarvik-icon.svg" -o "$work/icon-$size.png"
done
for size in 16 32 48 128 256; do
    convert "$work/icon-$size.png" $png_opts "PNG32:$out/icons/tarvik-$size.png"
done

# The window icon keeps to the classic 16-colour palette; edges are either in or out
# (the icon's mask has one bit per pixel).
convert -size 1x1 \
    xc:'#000000' xc:'#800000' xc:'#008000' xc:'#808000' \
    xc:'#000080' xc:'#800080' xc:'#008080' xc:'#c0c0c0' \
    xc:'#808080' xc:'#ff0000' xc:'#00ff00' xc:'#ffff00' \
    xc:'#0000ff' xc:'#ff00ff' xc:'#00ffff' xc:'#ffffff' +append "$work/palette.png"
for size in 32 16; do
    convert "$work/icon-$size.png" \
        \( -clone 0 -alpha off -dither None -remap "$work/palette.png" \) \
        \( -clone 0 -alpha extract -threshold 50% \) \
        -delete 0 -compose CopyOpacity -composite -depth 8 "rgba:$work/ico-$size.rgba"
done
python3 "$here/make-ico.py" "$out/tarvik.ico" "32:$work/ico-32.rgba" "16:$work/ico-16.rgba"

# Check the icon's directory: two entries, 32 and 16 pixels, 16 colours at 4 bits per pixel.
# Each entry is: width, height, colour count, reserved, planes (2 bytes), bit count (2 bytes), ...
bytes() { od -An -tu1 -j "$1" -N "$2" "$out/tarvik.ico" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
[ "$(bytes 0 6)" = "0 0 1 0 2 0" ] || { echo "build-art.sh: tarvik.ico: not an icon with two images" >&2; exit 1; }
[ "$(bytes 6 8)" = "32 32 16 0 1 0 4 0" ] || { echo "build-art.sh: tarvik.ico: first image is not 32 x 32, 4-bit" >&2; exit 1; }
[ "$(bytes 22 8)" = "16 16 16 0 1 0 4 0" ] || { echo "build-art.sh: tarvik.ico: second image is not 16 x 16, 4-bit" >&2; exit 1; }

# ---------------------------------------------------------------- cursor

convert "$here/hand.xpm" $png_opts "PNG32:$out/hand.png"

echo "build-art.sh: artwork written to $out"
