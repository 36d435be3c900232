#!/usr/bin/env bash
# Runs every example of the README, in order, in one scratch folder that holds
# the images the examples name (disk.img with two file systems, disk.E01,
# disk.img.gz), so that no example goes stale. Blocks fenced as `sh` run in
# bash with errors fatal, blocks fenced as `python` in Python; `console`
# blocks (setting up, installing) are not run. A block that mounts is left
# out, saying so, where FUSE cannot be used.
# Usage: readme_examples_test.sh SOURCE_DIR BUILD_DIR PYTHON
set -euo pipefail
src=$1 build=$2 python=$3
work=$(mktemp -d)
cleanup() {
  fusermount3 -u "$work/run/mnt" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work/P" >/dev/null
export PREFIX=$work/P SOURCE=$src
export PATH="$PREFIX/bin:$PATH"
site=$(echo "$PREFIX"/lib/python3*/*-packages)
export PYTHONPATH=$site

mkdir "$work/run" "$work/files"
cd "$work/run"
printf 'Hello from the first file system.\n' > "$work/files/hello.txt"
printf '#!/bin/sh\necho booting\n' > "$work/files/boot.sh"
printf 'second file system, one file\n' > "$work/files/notes"
mkbfs disk.img "$work/files/hello.txt" "$work/files/boot.sh" >/dev/null
mkbfs --at 16384 disk.img "$work/files/notes" >/dev/null
gzip -k disk.img
have_ewf=0
if command -v ewfacquire >/dev/null; then
  ewfacquire -u -q -c deflate:fast -t disk disk.img >/dev/null 2>&1 </dev/null
  have_ewf=1
fi
can_mount=0
if command -v fusermount3 >/dev/null && [ -r /dev/fuse ] && [ -w /dev/fuse ]; then
  can_mount=1
fi

# Splits the README into numbered blocks: block-N.sh / block-N.python.
"$python" - "$src/README.md" "$work" <<'EOF'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
n = 0
for lang, body in re.findall(r"^```(\w+)\n(.*?)^```", text, re.S | re.M):
    if lang in ("sh", "python"):
        n += 1
        with open(f"{sys.argv[2]}/block-{n:02d}.{lang}", "w") as out:
            out.write(body)
print(f"{n} examples", file=sys.stderr)
EOF

ran=0 skipped=0
for block in "$work"/block-*; do
  name=$(basename "$block")
  if grep -q 'bfsmount' "$block" && [ "$can_mount" = 0 ]; then
    echo "$name: left out, FUSE cannot be used here"; skipped=$((skipped + 1)); continue
  fi
  if grep -q 'E01' "$block" && [ "$have_ewf" = 0 ]; then
    echo "$name: left out, ewfacquire is missing"; skipped=$((skipped + 1)); continue
  fi
  case $name in
    *.sh) runner=(bash -euo pipefail "$block") ;;
    *.python) runner=("$python" "$block") ;;
  esac
  if ! "${runner[@]}" > "$work/out.txt" 2>&1; then
    echo "$name failed:"; cat "$block"; echo "--- its output:"; cat "$work/out.txt"
    exit 1
  fi
  ran=$((ran + 1))
done
echo "README examples: $ran run, $skipped left out"
[ "$ran" -gt 0 ]
