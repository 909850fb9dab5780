#!/usr/bin/env bash
# PATINEX64.8bf renders what PATINEX.8bf renders. With grain, dust, hairs and
# jitter off nothing of a render depends on the clock, so the two modules, each
# run by its own host on the same clip, must write the same files byte for byte:
# the tone curve, the tinted gray, the flicker and the scratches (replayed from
# seed 0 up to each frame) are all computed alike on x86 with SSE2 and on x86-64.
# Runs inside a 64-bit Wine prefix, which runs the 32-bit host too. Last, each
# host must refuse the other processor's module with a message. The 64-bit module
# also renders the RGB clip on one thread (PATINEX_THREADS=1), which must give the
# same files as all threads.
# Usage: same-pixels-test.sh FILTERHOST32 MODULE32 FILTERHOST64 MODULE64 PHOTO WORKDIR
set -u
host32=$1 module32=$2 host64=$3 module64=$4 photo=$5 work=$6
wine32=wine
wine64=${PATINEX_WINE:-wine64}
for f in "$host32" "$module32" "$host64" "$module64" "$photo"; do
  [ -f "$f" ] || { echo "missing: $f (the 32-bit tree is built by make win32)"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/rgb" "$work/rgba"

# Two clips: the photograph reduced, as RGB, 60 frames (at the default lifespan a
# scratch starts at most 45 frames old and respawns at 52, so every scratch fades
# out and respawns within the clip); and a crop with a transparency ramp (4
# planes), 6 frames.
convert "$photo" -resize 240x160 -strip "$work/rgb.png"
convert "$photo" -crop 160x120+200+120 +repage -alpha set \
  \( -size 160x120 gradient:white-gray40 \) -compose CopyOpacity -composite \
  -strip "$work/rgba.png"
for i in $(seq -f %02g 1 60); do cp "$work/rgb.png" "$work/rgb/in-$i.png"; done
for i in $(seq -f %02g 1 6); do cp "$work/rgba.png" "$work/rgba/in-$i.png"; done

random_off=(--set "Grain Amount=0" --set "Dust Amount=0" --set "Hair Amount=0"
            --set "Jitter Probability=0")
# RGB: the defaults otherwise (gray on, tinted). RGBA: colour kept, more and
# faster scratches, a steeper response, faster flicker.
rgb_settings=("${random_off[@]}")
rgba_settings=("${random_off[@]}" --set "Convert to Gray=0" --set "Scratch Amount=60"
               --set "Scratch Velocity=70" --set "Film Response=80" --set "Flicker Speed=70")
# The 32-bit module has no Scale and draws in pixels: the 64-bit module renders
# the same at Scale 1 (its default is Auto).
scale1=(--set "Scale=1")

fail=0
run() {  # run NAME WINE HOST MODULE CLIP SETTINGS...
  local name=$1 wine=$2 host=$3 module=$4 clip=$5
  shift 5
  mkdir -p "$work/$clip/$name"
  if ! "$wine" "$host" "$@" "$module" "$work/$clip/in-%02d.png" "$work/$clip/$name/out-%02d.png" \
      </dev/null >"$work/$clip/$name.log" 2>&1; then
    echo "$name failed on the $clip clip:"; cat "$work/$clip/$name.log"; fail=1
  fi
}
compare_clip() {  # compare_clip CLIP FRAMES
  local clip=$1 frames=$2 same=0 i
  for i in $(seq -f %02g 1 "$frames"); do
    local a="$work/$clip/x86/out-$i.png" b="$work/$clip/x64/out-$i.png"
    if [ ! -f "$a" ] || [ ! -f "$b" ]; then
      echo "$clip frame $i: missing output"; fail=1
    elif cmp -s "$a" "$b"; then
      same=$((same + 1))
    else
      echo "$clip frame $i: the two modules differ"
      compare -metric AE "$a" "$b" null: 2>&1 | sed 's/^/  pixels that differ: /'; echo
      fail=1
    fi
  done
  echo "$clip: $same of $frames frames identical"
  # The clip really was filtered, frame by frame: flicker and scratches move on,
  # so the first and last frames differ, and frame 1 is not the input.
  if cmp -s "$work/$clip/x64/out-01.png" "$work/$clip/x64/out-$frames.png"; then
    echo "$clip: frame 1 and frame $frames are the same; the clip did not move on"; fail=1
  fi
  local changed
  changed=$(compare -metric AE "$work/$clip.png" "$work/$clip/x64/out-01.png" null: 2>&1)
  if [ "${changed%% *}" = 0 ]; then echo "$clip: frame 1 equals the input"; fail=1; fi
}

run x86 "$wine32" "$host32" "$module32" rgb "${rgb_settings[@]}"
run x64 "$wine64" "$host64" "$module64" rgb "${rgb_settings[@]}" "${scale1[@]}"
compare_clip rgb 60
# One thread writes what all threads write (160 rows: two bands on two or more cores).
PATINEX_THREADS=1 run x64-one-thread "$wine64" "$host64" "$module64" rgb "${rgb_settings[@]}" "${scale1[@]}"
for i in $(seq -f %02g 1 60); do
  if ! cmp -s "$work/rgb/x64/out-$i.png" "$work/rgb/x64-one-thread/out-$i.png"; then
    echo "rgb frame $i: PATINEX_THREADS=1 differs from all threads"; fail=1
  fi
done
run x86 "$wine32" "$host32" "$module32" rgba "${rgba_settings[@]}"
run x64 "$wine64" "$host64" "$module64" rgba "${rgba_settings[@]}" "${scale1[@]}"
compare_clip rgba 6

# A user who picks the other file gets a message naming the host to use, not a
# crash: each host refuses the module of the other processor.
wrong() {  # wrong NAME WINE HOST MODULE EXPECTED-MESSAGE
  local name=$1 status=0
  "$2" "$3" "$4" "$work/rgb.png" "$work/$name-out.png" </dev/null >"$work/$name.log" 2>&1 || status=$?
  if [ "$status" != 1 ] || ! grep -qF "$5" "$work/$name.log" ||
     [ -e "$work/$name-out.png" ]; then
    echo "$name: exit status $status, expected 1 with a message and no output:"; cat "$work/$name.log"
    fail=1
  fi
}
wrong x64-host-with-x86-module "$wine64" "$host64" "$module32" \
  "$module32 is a 32-bit module: run it with filterhost.exe"
wrong x86-host-with-x64-module "$wine32" "$host32" "$module64" \
  "$module64 is a 64-bit module: run it with filterhost64.exe"
exit $fail
