#!/usr/bin/env bash
# Makes the player's own resources again from nothing but this script and the
# helpers beside it: the icon (16 colours, 32x32 and 16x16), the logo bitmap
# (146x32, 4 bits per pixel) and the start-up chime (8000 Hz mono 16-bit WAVE).
#
#   resources/make_assets.sh                       icon, logo, chime
#   resources/make_assets.sh --placeholder-message also a short stand-in message
#                                                  (message.263 and message.723)
#
# Needs ImageMagick, ffmpeg and python3. The drawings use only shapes and the
# Helvetica-Bold font that ImageMagick ships with Ghostscript.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
helpers="$here/asset_scripts"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

draw_icon() {  # <size> <out.rgba>
  local s=$1 out=$2
  # A dark-blue screen with a white rim and a yellow play triangle; the corners
  # stay transparent so the AND mask rounds them off.
  local r=$((s / 8)) m=$((s / 16))
  convert -size "${s}x${s}" xc:none \
    -fill '#000080' -stroke white -strokewidth $((s >= 32 ? 2 : 1)) \
    -draw "roundrectangle $m,$m $((s - 1 - m)),$((s - 1 - m)) $r,$r" \
    -stroke none -fill yellow \
    -draw "polygon $((s * 3 / 8)),$((s * 5 / 16)) $((s * 3 / 8)),$((s * 11 / 16)) $((s * 11 / 16)),$((s / 2))" \
    -depth 8 "rgba:$out"
}

draw_logo() {  # <out.rgba>
  # A 146x32 strip: a small play mark and the product name on dark blue.
  convert -size 146x32 xc:'#000080' \
    -fill '#008080' -draw 'rectangle 0,28 145,31' \
    -fill yellow -draw 'polygon 8,7 8,24 22,16' \
    -font Helvetica-Bold -pointsize 18 -fill white -annotate +29+22 'Clipnote' \
    -font Helvetica -pointsize 8 -fill '#C0C0C0' -annotate +110+22 'Tarvany' \
    -depth 8 "rgba:$1"
}

draw_icon 32 "$work/icon32.rgba"
draw_icon 16 "$work/icon16.rgba"
python3 "$helpers/paletted_images.py" icon "$here/clipnote.ico" 32:"$work/icon32.rgba" 16:"$work/icon16.rgba"

draw_logo "$work/logo.rgba"
python3 "$helpers/paletted_images.py" bitmap 146 32 "$work/logo.rgba" "$here/logo.bmp"

python3 "$helpers/startup_chime.py" "$here/startup_chime.wav"

if [[ "${1:-}" == "--placeholder-message" ]]; then
  # A few QCIF pictures 2 ticks apart and a third of a second of tone: enough
  # for the player to start and play until the real message is made.
  ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 6 \
    -c:v h263 -q:v 8 -flags +bitexact -fflags +bitexact -f h263 "$here/message.263"
  ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.3 \
    -ac 1 -ar 8000 -c:a g723_1 -b:a 6300 -flags +bitexact -fflags +bitexact -f g723_1 "$work/voice.g723"
  python3 "$helpers/prefix_voice_clip.py" "$work/voice.g723" "$here/message.723"
fi
