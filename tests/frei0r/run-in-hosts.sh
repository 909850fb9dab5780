#!/usr/bin/env bash
# patinex.so inside real hosts: plain ffmpeg (-vf frei0r=patinex, which hands
# the filter milliseconds) and MLT's melt (seconds), on a generated lossless
# clip (1 s, 320 x 240, 24 fps, RGBA), each checked against the module driven
# directly with seconds (frei0r-render-frame).
#
#   run-in-hosts.sh MODULE RENDER_FRAME_TOOL WORK_DIR
set -euo pipefail

module=$(realpath "$1")
render_frame=$(realpath "$2")
work=$3
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work/frei0r-1"
# A folder holding only this module: MLT loads every .so on FREI0R_PATH.
ln -s "$module" "$work/frei0r-1/patinex.so"
export FREI0R_PATH="$work/frei0r-1"
cd "$work"

checks=0
failures=0
pass() { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*"; }

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
mlt() {
  # melt prints a LADSPA notice on every run; keep only real messages.
  melt -silent -profile "$work/profile" "$@" 2>&1 | grep -v -e LADSPA -e '^$' >&2 || true
}
# "frame hash" per video frame of a file (framemd5 of its RGBA bytes).
hashes() { ff -i "$1" -map 0:v -f framemd5 -pix_fmt rgba - | awk -F', *' '/^0,/ {print $2, $6}'; }
hash_of() { md5sum "$1" | cut -d' ' -f1; }
# Frames present in both lists whose hashes differ; "same" counts the equal ones.
differing() { awk 'NR == FNR {h[$1] = $2; next} ($1 in h) && h[$1] != $2' "$1" "$2" | wc -l; }
same() { awk 'NR == FNR {h[$1] = $2; next} ($1 in h) && h[$1] == $2' "$1" "$2" | wc -l; }

echo "ffmpeg: $(ffmpeg -hide_banner -version | head -1)"
echo "$(melt --version 2>&1 | head -1)"
filters=$(ffmpeg -hide_banner -filters 2>/dev/null)
grep -q ' frei0r ' <<<"$filters" || { echo "FAIL: ffmpeg has no frei0r filter"; exit 1; }

# The clip, losslessly in RGBA, and its frame 12 alone as raw bytes.
ff -f lavfi -i testsrc2=size=320x240:rate=24 -t 1 -pix_fmt rgba -c:v rawvideo clip.nut
ff -i clip.nut -f rawvideo -pix_fmt rgba clip.rgba
ff -i clip.nut -vf "select=eq(n\,12)" -frames:v 1 -f rawvideo -pix_fmt rgba frame12.rgba
hashes clip.nut >source.txt

# The module alone, in seconds: frame 12 is the film's frame 12 at 0.5 s, and
# the clip's frame k is rendered at k / 24 s.
"$render_frame" "$module" 320 240 0.5 frame12.rgba direct12.rgba
direct12=$(hash_of direct12.rgba)
"$render_frame" "$module" 320 240 clip@24 clip.rgba seconds.rgba
hashes_raw() { ff -f rawvideo -pix_fmt rgba -s 320x240 -r 24 -i "$1" -f framemd5 -pix_fmt rgba - | awk -F', *' '/^0,/ {print $2, $6}'; }
hashes_raw seconds.rgba >seconds.txt

# --- ffmpeg, as a user types it --------------------------------------------
ff -i clip.nut -vf frei0r=patinex -c:v rawvideo -pix_fmt rgba ffmpeg1.nut
ff -i clip.nut -vf frei0r=patinex -c:v rawvideo -pix_fmt rgba ffmpeg2.nut
hashes ffmpeg1.nut >ffmpeg1.txt
hashes ffmpeg2.nut >ffmpeg2.txt
frames=$(wc -l <ffmpeg1.txt)
if [ "$frames" -eq 24 ]; then pass "ffmpeg filtered 24 frames"; else fail "ffmpeg gave $frames frames, not 24"; fi
if cmp -s ffmpeg1.txt ffmpeg2.txt; then pass "ffmpeg: two runs give identical frames"
else fail "ffmpeg: two runs differ"; diff ffmpeg1.txt ffmpeg2.txt | head -5; fi
changed=$(differing source.txt ffmpeg1.txt)
if [ "$changed" -eq 24 ]; then pass "ffmpeg: the effect changes every frame"
else fail "ffmpeg: only $changed of 24 frames changed"; fi
if [ "$(same seconds.txt ffmpeg1.txt)" -eq 24 ]; then
  pass "plain ffmpeg gives the 24 frames a caller in seconds gets (frame k at k / 24 s)"
else fail "plain ffmpeg and the caller in seconds differ in $(differing seconds.txt ffmpeg1.txt) frames"; fi
mid=$(awk '$1 == 12 {print $2}' ffmpeg1.txt)
if [ "$mid" = "$direct12" ]; then pass "ffmpeg: frame 12 of the clip is the module's frame at 0.5 s"
else fail "ffmpeg: frame 12 is $mid, the module alone gives $direct12"; fi

# Frame 12 rendered alone: cut out before the filter, and sought to with -ss
# (with -copyts, so that the filter sees the clip's own time).
alone=$(ff -i clip.nut -vf "trim=start_frame=12:end_frame=13,frei0r=patinex" \
          -f framemd5 -pix_fmt rgba - | awk -F', *' '/^0,/ {print $6}')
if [ "$alone" = "$direct12" ]; then pass "ffmpeg: frame 12 rendered alone is identical"
else fail "ffmpeg: frame 12 alone is $alone, in the clip $mid"; fi
sought=$(ff -ss 0.5 -copyts -i clip.nut -vf frei0r=patinex -frames:v 1 \
           -f framemd5 -pix_fmt rgba - | awk -F', *' '/^0,/ {print $6}')
if [ "$sought" = "$direct12" ]; then pass "ffmpeg: seeking to 0.5 s shows the same frame 12"
else fail "ffmpeg: after -ss 0.5 the frame is $sought, not $direct12"; fi

# Parameters by position, a colour among them (Dust Color red; gray off).
params="0.3|0.5|0.4|0.8|1/0/0|0.65|0.05|0.11765/0.11765/0.11765|0.1|0.2|0.45|0.3|0.03|0.05|n"
with_params=$(ff -i clip.nut -vf "trim=start_frame=12:end_frame=13,frei0r=patinex:$params" \
                -f framemd5 -pix_fmt rgba - | awk -F', *' '/^0,/ {print $6}')
"$render_frame" "$module" 320 240 0.5 frame12.rgba params12.rgba \
  0=0.3 1=0.5 2=0.4 3=0.8 4=1/0/0 7=0.11765/0.11765/0.11765 14=0
if [ "$with_params" = "$(hash_of params12.rgba)" ] && [ "$with_params" != "$direct12" ]; then
  pass "ffmpeg: parameters by position reach the module"
else fail "ffmpeg: frame 12 with parameters is $with_params, the module alone gives $(hash_of params12.rgba)"; fi

# --- ffmpeg at the frame sizes people use ----------------------------------
# ffmpeg 5.1 hands the filter a copy without its time whenever the frame it has
# does not have the row length of the frei0r filter's own buffers: frames from
# its buffers at many widths (PAL, NTSC, 854, 400, odd ones), after a conversion
# from YUV or BGRA or a scale; raw RGBA keeps its time at 720, not at 854. The
# filter then counts its frames. Those buffers' rows are padded to 16 pixels
# (854, 1080, 1366, 721, 1000 and 401 are not multiples of 16), and the filter
# reads and writes them with that stride. Each row: a still clip (12 frames at
# 24 fps, lossless: FFV1, or raw RGBA), plain ffmpeg, every frame checked
# against the one before and, byte for byte (every row, the last included),
# against the module given the same converted frame in whole rows at k / 24 s.
# Columns: size, pixel format of the clip, a filter before Patinex, ffmpeg's -cpuflags.
size_table() {
  cat <<'EOF'
720x576 yuv420p - -
720x480 yuv420p - -
854x480 yuv420p - -
400x300 yuv420p - -
1280x720 yuv420p - -
401x301 yuv420p - -
1366x768 yuv420p - -
1080x1920 yuv420p - -
1000x562 yuv420p - -
721x577 rgba - -
640x480 yuv420p - -
720x576 yuv422p - -
720x576 bgra - -
720x576 rgba - -
854x480 rgba - -
640x480 yuv420p scale=720:576 -
720x576 yuv420p scale=1280:720 -
720x576 yuv420p - 0
854x480 yuv420p - 0
EOF
}
ff -f lavfi -i testsrc2=size=1280x720 -frames:v 1 still.png
while read -r size pixfmt before cpuflags; do
  label="$size $pixfmt"
  chain=frei0r=patinex convert=format=rgba w=${size%x*} h=${size#*x}
  if [ "$before" != - ]; then
    label+=", then $before"; chain="$before,$chain"; convert="$before,$convert"
    w=${before#scale=}; h=${w#*:}; w=${w%:*}
  fi
  cpu=()
  if [ "$cpuflags" != - ]; then label+=", -cpuflags $cpuflags"; cpu=(-cpuflags "$cpuflags"); fi
  codec=ffv1; [ "$pixfmt" = rgba ] && codec=rawvideo
  clip="still-$size-$pixfmt.nut"
  ff -loop 1 -framerate 24 -i still.png -vf "scale=$size" -frames:v 12 -pix_fmt "$pixfmt" -c:v "$codec" "$clip"
  ff "${cpu[@]}" -i "$clip" -vf "$chain" -f framemd5 -pix_fmt rgba - |
    awk -F', *' '/^0,/ {print NR, $6}' >table-ffmpeg.txt
  n=$(wc -l <table-ffmpeg.txt)
  repeats=$(awk 'NR > 1 && $2 == last {r++} {last = $2} END {print r + 0}' table-ffmpeg.txt)
  ff "${cpu[@]}" -i "$clip" -vf "$convert" -f rawvideo -pix_fmt rgba table-in.rgba
  "$render_frame" "$module" "$w" "$h" clip@24 table-in.rgba table-seconds.rgba
  ff -f rawvideo -pix_fmt rgba -s "${w}x$h" -r 24 -i table-seconds.rgba -f framemd5 - |
    awk -F', *' '/^0,/ {print NR, $6}' >table-seconds.txt
  if [ "$n" -eq 12 ] && [ "$repeats" -eq 0 ] && cmp -s table-ffmpeg.txt table-seconds.txt; then
    pass "ffmpeg at $label: 12 frames, each unlike the one before, each the module's at k / 24 s"
  else fail "ffmpeg at $label: $n frames, $repeats like the one before, $(differing table-seconds.txt table-ffmpeg.txt) unlike the module's at k / 24 s"; fi
done < <(size_table)

# --- a frame too large for the renderer ------------------------------------
# 32776 pixels wide (over 32767, and padded by ffmpeg 5.1): the run goes on,
# every frame comes out as it went in, and the filter says so once.
ff -f lavfi -i testsrc2=size=32776x8:rate=24 -frames:v 3 -vf format=rgba -f framemd5 -pix_fmt rgba - |
  awk -F', *' '/^0,/ {print $2, $6}' >wide-in.txt
if ffmpeg -nostdin -hide_banner -loglevel warning -y -f lavfi -i testsrc2=size=32776x8:rate=24 \
     -frames:v 3 -vf frei0r=patinex -f framemd5 -pix_fmt rgba wide.md5 2>wide.log; then
  awk -F', *' '/^0,/ {print $2, $6}' wide.md5 >wide-out.txt
  warnings=$(grep -c 'larger than 32767 pixels on a side; left unchanged' wide.log || true)
  if [ "$(wc -l <wide-out.txt)" -eq 3 ] && cmp -s wide-in.txt wide-out.txt && [ "$warnings" -eq 1 ] &&
     [ "$(wc -l <wide.log)" -eq 1 ]; then
    pass "ffmpeg at 32776 x 8: 3 frames passed through unchanged, one warning"
  else fail "ffmpeg at 32776 x 8: $(wc -l <wide-out.txt) frames, $(differing wide-in.txt wide-out.txt) changed, log: $(head -3 wide.log)"; fi
else fail "ffmpeg at 32776 x 8 stopped: $(head -3 wide.log)"; fi

# --- the README's and INSTALL.txt's commands --------------------------------
# Every "ffmpeg -i in.mp4 ..." they show, run as written on an H.264 clip with
# sound: a video players take (H.264 4:2:0, not 4:4:4); and the recipe for an
# odd frame size gives an even one.
ff -f lavfi -i testsrc2=size=320x240:rate=24 -f lavfi -i sine -t 0.5 -pix_fmt yuv420p \
  -c:v libx264 -c:a aac in.mp4
commands=$(grep -h -o 'ffmpeg -i in.mp4 [^`]*out.mp4' "$here/../../README.md" "$here/../../scripts/dist")
while read -r command; do
  rm -f out.mp4
  eval "${command/ffmpeg/ff}"
  video=$(ffprobe -v error -select_streams v -show_entries stream=pix_fmt,profile -of csv=p=0 out.mp4)
  if [ "$video" = "High,yuv420p" ]; then pass "'$command' writes H.264 High, yuv420p"
  else fail "'$command' writes '$video'"; fi
done <<<"$commands"
[ "$(wc -l <<<"$commands")" -ge 3 ] || fail "the README and INSTALL.txt show $(wc -l <<<"$commands") ffmpeg commands, not 3"
recipe=$(grep -o '"frei0r=patinex,scale=[^"]*"' "$here/../../README.md" | head -1)
ff -f lavfi -i testsrc2=size=321x241:rate=24 -t 0.25 -c:v ffv1 odd.nut
eval "ff -i odd.nut -vf $recipe -pix_fmt yuv420p odd.mp4"
size=$(ffprobe -v error -select_streams v -show_entries stream=width,height,pix_fmt -of csv=p=0 odd.mp4)
if [ "$size" = "320,240,yuv420p" ]; then pass "README's recipe for odd sizes: 321 x 241 becomes 320 x 240, yuv420p"
else fail "README's recipe for odd sizes ($recipe) gives '$size'"; fi

# --- melt (MLT) ----------------------------------------------------------
cat >profile <<'EOF'
description=Patinex host test
frame_rate_num=24
frame_rate_den=1
width=320
height=240
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=4
display_aspect_den=3
colorspace=709
EOF
if melt -query filters 2>/dev/null | grep -c 'frei0r.patinex' >/dev/null; then pass "melt lists frei0r.patinex"
else fail "melt does not list frei0r.patinex"; fi

# One thread, then two rendering frames in parallel: the same frames.
mlt clip.nut -filter frei0r.patinex -consumer avformat:melt1.nut vcodec=rawvideo pix_fmt=rgba an=1 real_time=-1
mlt clip.nut -filter frei0r.patinex -consumer avformat:melt2.nut vcodec=rawvideo pix_fmt=rgba an=1 real_time=-2
hashes melt1.nut >melt1.txt
hashes melt2.nut >melt2.txt
mframes=$(wc -l <melt1.txt)
# melt's reader may end the clip a frame early; every frame it gives is checked.
if [ "$mframes" -ge 20 ]; then pass "melt rendered $mframes frames"; else fail "melt rendered $mframes frames"; fi
if cmp -s melt1.txt melt2.txt; then pass "melt: one thread and two threads give identical frames"
else fail "melt: one thread and two threads differ"; diff melt1.txt melt2.txt | head -5; fi
mchanged=$(differing source.txt melt1.txt)
if [ "$mframes" -gt 0 ] && [ "$mchanged" -eq "$mframes" ]; then pass "melt: the effect changes every frame"
else fail "melt: $mchanged of $mframes frames changed"; fi
if [ "$(same ffmpeg1.txt melt1.txt)" -eq "$mframes" ] && [ "$(same seconds.txt melt1.txt)" -eq "$mframes" ]; then
  pass "melt gives the same frames as plain ffmpeg and the caller in seconds"
else fail "melt differs from plain ffmpeg in $(differing ffmpeg1.txt melt1.txt) and from the caller in seconds in $(differing seconds.txt melt1.txt) of $mframes frames"; fi

# Parameters by name, a colour as MLT writes it.
mlt clip.nut out=12 -filter frei0r.patinex "Film Response=0.3" "Grain Amount=0.5" "Dust Size=0.4" \
  "Dust Amount=0.8" "Dust Color=#ff0000" "Hair Color=#1e1e1e" "Convert to Gray=0" \
  -consumer avformat:named.nut vcodec=rawvideo pix_fmt=rgba an=1
named=$(hashes named.nut | awk '$1 == 12 {print $2}')
if [ "$named" = "$(hash_of params12.rgba)" ]; then pass "melt: parameters by name reach the module"
else fail "melt: frame 12 with named parameters is '$named', the module alone gives $(hash_of params12.rgba)"; fi

# --- the README's before/after picture, made the same way ------------------
bash "$here/make-before-after.sh" "$module" "$here/../../samples/chelsea.png" before-after.png
if [ -s before-after.png ]; then pass "before/after picture made ($work/before-after.png)"
else fail "no before/after picture"; fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
