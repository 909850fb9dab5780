#!/usr/bin/env bash
# The README's before/after picture: a photograph beside itself through
# patinex.so in ffmpeg, with the default settings, at the clip's frame 48 (2 s
# into a 24 fps clip of the still), so that the scratches have been running.
#
#   make-before-after.sh MODULE PHOTO OUT.png
#   e.g. tests/frei0r/make-before-after.sh build/native/patinex.so \
#          samples/chelsea.png docs/frei0r-before-after.png
set -euo pipefail

module=$(realpath "$1")
photo=$2
out=$3

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ln -s "$module" "$dir/patinex.so"

FREI0R_PATH="$dir" ffmpeg -nostdin -hide_banner -loglevel error -y \
  -loop 1 -framerate 24 -i "$photo" \
  -filter_complex "[0:v]format=rgba,split[before][in];
    [in]frei0r=patinex[after];
    [before][after]hstack,trim=start_frame=48:end_frame=49,format=rgb24" \
  -frames:v 1 "$out"
