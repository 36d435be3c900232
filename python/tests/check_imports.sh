#!/bin/sh
# The module imports, without a library path, in every interpreter here of
# the version it was built for, and tells the program's version.
# Usage: check_imports.sh BFSSCAN PYTHONPATH VERSION PYTHON...
set -eu
bfsscan=$1 path=$2 version=$3
shift 3
want=$("$bfsscan" --version)
tried=0
for py in "$@" /usr/bin/python3 python3; do
  v=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null) || continue
  [ "$v" = "$version" ] || continue
  got="bfsscan $(PYTHONPATH=$path LD_LIBRARY_PATH= "$py" -c 'import bfsscan; print(bfsscan.__version__)')"
  if [ "$got" != "$want" ]; then
    echo "$py: '$got', not '$want'"
    exit 1
  fi
  echo "$py: $got"
  tried=$((tried + 1))
done
[ "$tried" -gt 0 ]
