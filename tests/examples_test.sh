#!/bin/sh
# Runs the two example programs on an image of two files and compares what
# they print. Usage: examples_test.sh MKBFS LIST_FILES SHA256_FILES
set -eu
mkbfs=$1 list=$2 sha=$3
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
