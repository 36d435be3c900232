#!/bin/sh
# Makes the Debian package with cpack, unpacks it into a scratch root with
# dpkg -x, and runs each program from there; the Python module lies in a
# directory Debian's python3 searches, and imports and scans from it.
# Usage: deb_package_test.sh CPACK BUILD_DIR
set -eu
cpack=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null
dpkg -x pkg/*.deb root
R=$work/root

init=$(find "$R" -path '*/bfsscan/__init__.py')
[ -n "$init" ] || { echo "no Python module in the package"; exit 1; }
dir=${init#"$R"}
dir=${dir%/bfsscan/__init__.py}
/usr/bin/python3 -c 'import sys; sys.exit(sys.argv[1] not in sys.path)' "$dir" ||
  { echo "the module is in $dir, which python3 does not search"; exit 1; }

for p in "$R"/usr/bin/*; do
  "$p" --version >/dev/null || { echo "$p --version failed"; exit 1; }
done
printf 'notes\n' > notes
"$R/usr/bin/mkbfs" t.img notes >/dev/null
"$R/usr/bin/bfsscan" -n t.img | grep -q "entry for inode 0x3 'notes'" || { echo "bfsscan from the package did not find notes"; exit 1; }
PYTHONPATH=$R$dir /usr/bin/python3 -c '
import bfsscan
records = list(bfsscan.scan("t.img"))
assert [r["name"] for r in records if r["type"] == "file"] == ["notes"], records
assert records[-1]["status"] == 0, records
'
echo "package OK: $(ls "$R"/usr/bin | tr '\n' ' ')and the module in $dir"
