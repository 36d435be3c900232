#!/bin/sh
# Runs the example programs on an image of two files and compares what
# they print. Usage: examples_test.sh MKBFS LIST_FILES SHA256_FILES
set -eu
mkbfs=$1 list=$2 sha=$3 cat=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'hello\n' > a.txt
printf 'world!\n' > b.txt
"$mkbfs" t.img a.txt b.txt >/dev/null
cat > list.expected <<'END'
file system at byte 0, 2560 bytes
  a.txt: 6 bytes at byte 1536
  b.txt: 7 bytes at byte 2048
END
sha256sum a.txt b.txt | sed 's,  ,  t-0/,' > sha256.expected
"$list" t.img > list.out
"$sha" t.img > sha256.out
cmp list.expected list.out
cmp sha256.expected sha256.out
if [ -n "$cat" ]; then
  "$cat" t.img 0 4 > b.out
  cmp b.txt b.out
  if "$cat" t.img 0 9 2> err.out; then exit 1; fi
  grep -q 'cat_file: file system at 0: no inode 9' err.out
fi
