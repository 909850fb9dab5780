#!/usr/bin/env bash
# lumivex:patinex through the gegl command, headless, as a user runs it: the
# module found in XDG_DATA_HOME/gegl-0.4/plug-ins (GEGL_PATH would hide GEGL's
# own operations), the pixels against patinex.so driven directly with the same
# values, frame and seed; a region and small tiles against the crop of the
# whole render; wrong values on the command line.
#
#   run-gegl.sh GEGL_MODULE FREI0R_MODULE RENDER_FRAME_TOOL SAMPLE WORK_DIR
set -euo pipefail

module=$(realpath "$1")
frei0r=$(realpath "$2")
render_frame=$(realpath "$3")
sample=$(realpath "$4")
work=$5

rm -rf "$work"
mkdir -p "$work/data/gegl-0.4/plug-ins"
ln -s "$module" "$work/data/gegl-0.4/plug-ins/"
export XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
unset GEGL_PATH GEGL_TILE_SIZE GEGL_CHUNK_SIZE
cd "$work"

checks=0
failures=0
pass() { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*"; }

# gegl writes 16-bit RGBA PNG; its values are 8-bit ones times 257, so reducing
# to 8 bits gives the operation's bytes back.
rgba8() { convert "$1" -depth 8 "rgba:$2"; }
# gegl IN OUT.png OPS...: stderr kept in OUT.log. A buffer left behind (GEGL's
# "GeglBuffers leaked" and its tile cache's notice at exit) fails the run's check.
leaks=0
run_gegl() {
  local in=$1 out=$2 status=0; shift 2
  gegl "$in" -o "$out" -- "$@" >"${out%.png}.log" 2>&1 || status=$?
  if grep -q -e 'GeglBuffers leaked' -e gegl_tile_cache_destroy "${out%.png}.log"; then
    leaks=$((leaks + 1)); echo "leak: gegl -- $* ($(tr '\n' ' ' <"${out%.png}.log" | head -c 200))"
  fi
  return "$status"
}
# frei0r values of the same settings: an amount / 100, colour channels / 255,
# switches y/n as 1/0, the seed / 1000, frame n at n / 24 s (24 fps). Colours
# go to gegl as #rrggbb, which is R'G'B' (its rgb() is linear light).
gegl -h >/dev/null 2>&1 || { echo "FAIL: no gegl command"; exit 1; }
gegl --exists lumivex:patinex && pass "gegl finds lumivex:patinex in XDG_DATA_HOME" ||
  fail "gegl finds lumivex:patinex in XDG_DATA_HOME"

read -r width height < <(identify -format '%w %h\n' "$sample")
# The sample with alpha: a ramp over the rows, so that alpha is visible. No
# colour chunks, which GEGL would convert from.
convert "$sample" \( -size "${height}x${width}" gradient:white-gray20 -rotate 90 \) \
  -alpha off -compose copy_opacity -composite -define png:exclude-chunks=all sample-alpha.png
cp "$sample" sample.png
rgba8 sample.png sample.rgba
rgba8 sample-alpha.png sample-alpha.rgba

# --- (a) the same pixels as patinex.so ------------------------------------
# name | gegl properties | frei0r time | frei0r INDEX=VALUE settings
cases=(
  "defaults at frame 3, seed 7|frame-number=3 seed=7|0.125|20=0.007"
  "frame 0, seed 0|frame-number=0 seed=0|0|20=0"
  "every kind of value|film-response=70 grain-amount=60 dust-amount=80 dust-size=50 dust-color=#ff0000 hair-amount=60 hair-color=#0000ff scratch-amount=40 scratch-opacity=90 jitter-probability=100 jitter-max-offset=10 convert-to-gray=false flicker-amount=50 frame-number=250 seed=1000|10.416666666666666|0=0.7 1=0.6 2=0.5 3=0.8 4=1/0/0 6=0.6 7=0/0/1 8=0.4 11=0.9 12=0.1 13=1 14=0 17=0.5 20=1"
  "back layer revealed, tinted gray|jitter-probability=100 jitter-max-offset=30 reveal-back-layer=true gray-tint-value=#336699 dust-amount=90 dust-color=#0a141e frame-number=9999 seed=500|416.625|12=0.3 13=1 18=1 15=0.2/0.4/0.6 3=0.9 4=0.0392156862745098/0.0784313725490196/0.1176470588235294 20=0.5"
)
for input in sample sample-alpha; do
  for i in "${!cases[@]}"; do
    IFS='|' read -r name props time settings <<<"${cases[$i]}"
    # shellcheck disable=SC2086
    run_gegl "$input.png" "a-$input-$i.png" lumivex:patinex $props
    rgba8 "a-$input-$i.png" "a-$input-$i.rgba"
    # shellcheck disable=SC2086
    "$render_frame" "$frei0r" "$width" "$height" "$time" "$input.rgba" "f-$input-$i.rgba" $settings
    if cmp -s "a-$input-$i.rgba" "f-$input-$i.rgba" && ! cmp -s "a-$input-$i.rgba" "$input.rgba"; then
      pass "$input, $name: the pixels of patinex.so"
    else
      fail "$input, $name: the pixels of patinex.so (a-$input-$i.png; $(cmp "a-$input-$i.rgba" "f-$input-$i.rgba" 2>&1 | head -1))"
    fi
  done
done
# Alpha as it came (the sample with alpha, the back layer revealed).
if cmp -s <(convert -size "${width}x${height}" -depth 8 rgba:a-sample-alpha-3.rgba -alpha extract gray:-) \
          <(convert sample-alpha.png -alpha extract -depth 8 gray:-); then
  pass "alpha kept"
else
  fail "alpha kept"
fi
# Another frame and another seed are other pictures; the same are the same.
run_gegl sample.png seed8.png lumivex:patinex frame-number=3 seed=8
run_gegl sample.png frame4.png lumivex:patinex frame-number=4 seed=7
run_gegl sample.png again.png lumivex:patinex frame-number=3 seed=7
rgba8 seed8.png seed8.rgba; rgba8 frame4.png frame4.rgba; rgba8 again.png again.rgba
if ! cmp -s seed8.rgba a-sample-0.rgba && ! cmp -s frame4.rgba a-sample-0.rgba &&
   cmp -s again.rgba a-sample-0.rgba; then
  pass "seeded from frame and seed: the same again, another frame or seed differs"
else
  fail "seeded from frame and seed: the same again, another frame or seed differs"
fi

# --- (b) a region, and small tiles, are crops of the whole render ------------
props=(jitter-probability=100 jitter-max-offset=10 scratch-amount=50 frame-number=40 seed=3)
run_gegl sample.png whole.png lumivex:patinex "${props[@]}"
rgba8 whole.png whole.rgba
for region in "120x90+200+150" "37x300+0+0" "451x1+0+299"; do
  IFS='x+' read -r w h x y <<<"$region"
  run_gegl sample.png "region-$region.png" lumivex:patinex "${props[@]}" \
    gegl:crop x="$x" y="$y" width="$w" height="$h"
  convert -size "${width}x${height}" -depth 8 rgba:whole.rgba -crop "$region" +repage rgba:crop.rgba
  rgba8 "region-$region.png" region.rgba
  if [ "$(identify -format '%wx%h' "region-$region.png")" = "${w}x${h}" ] && cmp -s region.rgba crop.rgba; then
    pass "region $region is the crop of the whole render"
  else
    fail "region $region is the crop of the whole render"
  fi
done
# Small tiles, and GEGL's work cut into chunks of that many pixels (without a
# small chunk it renders this picture in one piece).
for tiles in "16x16 1024" "8x64 4096"; do
  read -r tile chunk <<<"$tiles"
  GEGL_TILE_SIZE=$tile GEGL_CHUNK_SIZE=$chunk \
    run_gegl sample.png "tiles-$tile.png" lumivex:patinex "${props[@]}"
  rgba8 "tiles-$tile.png" tiles.rgba
  if cmp -s tiles.rgba whole.rgba; then
    pass "tiles of $tile in chunks of $chunk pixels give the whole render"
  else
    fail "tiles of $tile in chunks of $chunk pixels give the whole render"
  fi
done

# --- (d) wrong values: GEGL's warning and what GEGL makes of them, no crash --
# Out of range and NaN keep the default; a colour GEGL cannot read is its
# transparent cyan (the operation takes the colour without its alpha).
run_gegl sample.png default.png lumivex:patinex
rgba8 default.png default.rgba
run_gegl sample.png cyan.png lumivex:patinex 'dust-color=#00ffff'
rgba8 cyan.png cyan.rgba
warned() { grep -qi -e warning -e invalid wrong.log; }
for wrong in film-response=150 film-response=-1 film-response=nan grain-amount=NaN \
             flicker-amount=1e400 frame-number=10000 frame-number=-1 seed=1001 seed=-5 \
             dust-color=notacolour; do
  expected=default.rgba
  [ "${wrong%%=*}" = dust-color ] && expected=cyan.rgba
  status=0
  run_gegl sample.png wrong.png lumivex:patinex "$wrong" || status=$?
  if [ "$status" -ne 0 ]; then
    fail "$wrong: gegl exits $status ($(tail -2 wrong.log | tr '\n' ' '))"
    continue
  fi
  rgba8 wrong.png wrong.rgba
  if cmp -s wrong.rgba "$expected" && warned; then
    pass "$wrong: a warning, ${expected%.rgba} kept"
  else
    fail "$wrong: a warning, ${expected%.rgba} kept ($(head -c 300 wrong.log | tr '\n' ' '))"
  fi
done

if [ "$leaks" -eq 0 ]; then pass "no run of gegl reports a leaked buffer"
else fail "$leaks runs of gegl report a leaked buffer"; fi

echo "$checks checks, $failures failed"
[ "$failures" -eq 0 ]
