#!/usr/bin/env bash
# Installs what building and testing bfsscan needs, where it is missing.
# Usage: scripts/bootstrap.sh [--fuzz]   (--fuzz adds clang for the fuzzer)
set -euo pipefail

packages=(cmake make g++ pkg-config libboost-filesystem-dev libssl-dev nlohmann-json3-dev
  libgtest-dev man-db bsdutils
  # the container libraries, and the converters the container tests write images with
  libewf-dev libsmraw-dev libvhdi-dev libvmdk-dev libqcow-dev ewf-tools qemu-utils
  # mactime, which the tests run on the body file
  sleuthkit
  # the map tests read back what they draw: libpng, rsvg-convert, xmllint
  libpng-dev librsvg2-bin libxml2-utils
  # the HTML report's tests open it in a headless browser
  chromium
  # the Python module, its tests, and installing it with pip from a checkout
  pybind11-dev python3-dev python3-pybind11 python3-setuptools python3-pytest python3-venv

  # bfsmount: FUSE 3, and fusermount3 to unmount
  libfuse3-dev fuse3

  # compressed images and archives: the libraries, and the tools the tests write them with
  libarchive-dev zlib1g-dev libzstd-dev liblzma-dev gzip xz-utils zstd bzip2 zip lz4

  # the case database (--sqlite), sqlite3 to query it; bfsscan-batch's engine
  libsqlite3-dev sqlite3 python3-distributed)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
