#!/usr/bin/env bash
# Sets everything up, writes a sample image holding two file systems, scans
# it, lists what was extracted and draws the map of the scan (map.svg, and
# map.png where rsvg-convert is installed). Everything lands in out/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh build >/dev/null

demo=out/demo
rm -rf "$demo"
mkdir -p "$demo/files"
printf 'Hello from the first file system.\n' > "$demo/files/hello.txt"
printf '#!/bin/sh\necho booting\n' > "$demo/files/boot.sh"
head -c 3000 /dev/urandom > "$demo/files/kernel.bin"
printf 'second file system, one file\n' > "$demo/files/notes"

build/mkbfs "$demo/sample.img" "$demo/files/hello.txt" "$demo/files/boot.sh" \
  "$demo/files/kernel.bin" >/dev/null
build/mkbfs --at 16384 "$demo/sample.img" "$demo/files/notes" >/dev/null

cd "$demo"
status=0
../../build/bfsscan --map=map.svg --html=report.html sample.img || status=$?
echo
echo "exit status: $status"
echo "extracted:"
find sample-* -type f | sort | while read -r f; do
  if cmp -s "$f" "files/$(basename "$f")"; then same="identical"; else same="DIFFERENT"; fi
  echo "  $f ($(stat -c %s "$f") bytes, $same to the original)"
done
echo "map: $demo/map.svg"
echo "report: $demo/report.html"
if command -v rsvg-convert >/dev/null; then
  rsvg-convert -o map.png map.svg && echo "     $demo/map.png"
fi
exit "$status"
