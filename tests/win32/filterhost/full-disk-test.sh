#!/usr/bin/env bash
# A full disk: filterhost writes an image larger than a small tmpfs holds. The
# write fails; filterhost names the file and the cause and exits 1, the target
# keeps its old content and no temporary file is left beside it.
# The tmpfs lives in a private mount namespace (unshare -m needs root, as CI
# has; elsewhere the test is skipped). The Wine server opens files for its
# clients, so it must see the tmpfs too: the test runs on its own copy of the
# prefix, whose server starts inside the namespace.
# Usage: full-disk-test.sh FILTERHOST TESTFILTER IMAGE WORKDIR
set -u
host=$1 filter=$2 image=$3 work=$4
if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null; then
  echo "skipped: a mount namespace needs root"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work/full"
# Hard links for the prefix's files, which Wine only reads; its own copies of
# the registry files, which its server may write.
cp -al "$WINEPREFIX" "$work/prefix"
for f in "$WINEPREFIX"/*.reg; do cp --remove-destination "$f" "$work/prefix/"; done
export WINEPREFIX="$work/prefix"
unshare -m bash -c '
  work=$1
  mount -t tmpfs -o size=64k tmpfs "$work/full" || exit 1
  printf "the old picture" >"$work/full/out.png"
  "${PATINEX_WINE:-wine}" "$2" "$3" "$4" "$work/full/out.png" </dev/null >"$work/out" 2>"$work/err"
  echo $? >"$work/status"
  wineserver -w
  ls -A "$work/full" >"$work/listing"
  cat "$work/full/out.png" >"$work/after"
' _ "$work" "$host" "$filter" "$image"
fail=0
[ "$(cat "$work/status" 2>/dev/null)" = 1 ] || { echo "exit status $(cat "$work/status" 2>/dev/null), expected 1"; fail=1; }
grep -q "^filterhost: cannot write .*out.png: the disk is full" "$work/err" || { echo "no message naming the file and the full disk"; fail=1; }
[ "$(wc -l <"$work/err")" = 1 ] || { echo "not one line"; fail=1; }
[ "$(cat "$work/listing")" = out.png ] || { echo "left in the folder: $(cat "$work/listing")"; fail=1; }
[ "$(cat "$work/after")" = "the old picture" ] || { echo "the old content was replaced"; fail=1; }
echo "--- stderr:"; cat "$work/err"
rm -rf "$work/prefix"
exit $fail
