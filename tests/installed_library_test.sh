#!/bin/sh
# Installs the build into a fresh prefix, moves it elsewhere, and builds the
# examples against it, once with pkg-config and once with find_package, then
# runs them on an image and compares their output; the Python module there
# imports and scans too.
# Usage: installed_library_test.sh SOURCE_DIR BUILD_DIR MKBFS PYTHON
set -eu
src=$1 build=$2 mkbfs=$3 python=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/P"  # the tree must work wherever it ends up
P=$work/P

for f in bin/bfsscan lib/libbfsscan.so lib/libbfsscan.so.1 include/bfsscan/bfsscan.h \
         lib/pkgconfig/bfsscan.pc lib/cmake/bfsscan/bfsscanConfig.cmake; do
  [ -e "$P/$f" ] || { echo "missing from the installed tree: $f"; exit 1; }
done

cd "$work"
export PKG_CONFIG_PATH="$P/lib/pkgconfig"
libdir=$(pkg-config --variable=libdir bfsscan)
for ex in list_files sha256_files cat_file; do
  # shellcheck disable=SC2046
  c++ -std=c++17 -Wall -Wextra -Werror "$src/examples/$ex.cpp" $(pkg-config --cflags --libs bfsscan) \
      -Wl,-rpath,"$libdir" -o "pc-$ex"
done
sh "$here/examples_test.sh" "$mkbfs" "$work/pc-list_files" "$work/pc-sha256_files" "$work/pc-cat_file"

cmake -S "$src/examples" -B cm -DCMAKE_PREFIX_PATH="$P" >/dev/null
cmake --build cm >/dev/null
sh "$here/examples_test.sh" "$mkbfs" "$work/cm/list_files" "$work/cm/sha256_files" "$work/cm/cat_file"

site=$(echo "$P"/lib/python3.*/site-packages)
[ -d "$site/bfsscan" ] || { echo "no Python module in $P/lib/python3.*/site-packages"; exit 1; }
printf 'notes\n' > notes
"$mkbfs" t.img notes >/dev/null
PYTHONPATH=$site "$python" -c '
import bfsscan, sys
records = list(bfsscan.scan("t.img"))
assert [r["name"] for r in records if r["type"] == "file"] == ["notes"], records
assert records[-1]["status"] == 0, records
'
echo "installed tree OK"
