#!/usr/bin/env python3
"""Writes the benchmark's hand-made images (the plain ones come from mkbfs).

  images.py table OUT              1 GiB of zeros, written out (not sparse), with a
                                   superblock at 0 claiming 69,273,659 slots
  images.py quadratic OUT BLOCKS   4 GiB sparse image, a superblock every BLOCKS
                                   blocks (a multiple of 31), each inode table
                                   reaching the end of the image
  images.py dense OUT              a 256 MiB inode table whose slots are all in use
  images.py amplify OUT            2,000 names for one 4 MiB extent
  images.py same-ino OUT           16,000 slots with the same inode number, named
                                   once, on one 4 MiB extent

Prints the image's length in bytes. All integers on disk are big-endian.
"""
import os
import struct
import sys

MAGIC = 0x1BADFACE
BLOCK = 512
SLOT = 62
SLOT0 = 388  # offset of slot 0; slot n lies at 388 + 62 n
MiB = 1 << 20


def superblock(start, end):
    return struct.pack(">III", MAGIC, start, end).ljust(BLOCK, b"\0")


def slot(ino, sblock, eblock, eoffset, vtype, mode, nlink):
    return struct.pack(">HIIIIIIIIIII16x", ino, sblock, eblock, eoffset,
                       vtype, mode, 0, 0, nlink, 0, 0, 0)


def regular(ino, sblock, length):
    return slot(ino, sblock, sblock + (length - 1) // BLOCK,
                sblock * BLOCK + length - 1, 1, 0o100644, 1)


def directory(sblock, length):
    return slot(2, sblock, sblock + (length - 1) // BLOCK,
                sblock * BLOCK + length - 1, 2, 0o40755, 2)


def entry(ino, name):
    return struct.pack(">H14s", ino, name.encode())


def blocks(n):
    return (n + BLOCK - 1) // BLOCK


def table(out):
    length = 1 << 30
    with open(out, "wb") as f:
        f.write(superblock(0xFFFFFFCE, 0xFFFFFFFF))
        zeros = bytes(MiB)
        f.write(zeros[BLOCK:])
        for _ in range(length // MiB - 1):
            f.write(zeros)
    return length


def quadratic(out, step):
    # A step that is a multiple of 31 blocks (256 slots) puts every later
    # superblock in the attribute bytes of an unused slot of the earlier
    # tables, so each table holds nothing but unused slots.
    if step <= 0 or step % 31:
        sys.exit("images.py: the step must be a positive multiple of 31 blocks")
    length = 1 << 32
    with open(out, "wb") as f:
        f.truncate(length)
        base = 0
        while True:
            room = min(length - base, 1 << 32) - 1  # the table ends below both
            if room < SLOT0:
                break
            start = SLOT0 + (room - SLOT0) // SLOT * SLOT
            end = min(length - base, 0xFFFFFFFF)
            f.seek(base)
            f.write(superblock(start, end))
            base += step * BLOCK
    return length


def dense(out):
    count = (256 * MiB) // SLOT  # slots 2 .. count + 1, all in use
    start = 512 + SLOT * count
    dirblock = blocks(start)
    fileblock = dirblock + 1
    names = [entry(2, "."), entry(2, "..")] + [entry(i, "f%d" % i) for i in range(3, 11)]
    root = directory(dirblock, len(names) * 16)
    # Slot numbers go beyond 16 bits; the inode numbers run through 2..65535
    # again and again, so only a few slots carry a number the root names.
    cycle = 65534
    files = b"".join(regular(2 + k, fileblock, 100) for k in range(cycle))
    with open(out, "wb") as f:
        f.write(superblock(start, (fileblock + 1) * BLOCK))
        f.write(root + files[SLOT:])
        left = count - cycle
        while left > 0:
            n = min(left, cycle)
            f.write(files[:n * SLOT])
            left -= n
        f.seek(dirblock * BLOCK)
        f.write(b"".join(names).ljust(BLOCK, b"\0"))
        f.write(b"x" * 100)
        f.truncate((fileblock + 1) * BLOCK)
    return (fileblock + 1) * BLOCK


def shared_extent(out, slots, names):
    """Slots 3 .. 2 + len(slots) hold the given inode numbers, all on one
    4 MiB extent; the root directory holds the given (inode, name) pairs."""
    extent = 4 * MiB
    start = 512 + SLOT * (1 + len(slots))
    dirblock = blocks(start)
    listing = [entry(2, "."), entry(2, "..")] + [entry(i, n) for i, n in names]
    fileblock = dirblock + blocks(len(listing) * 16)
    end = (fileblock + extent // BLOCK) * BLOCK
    with open(out, "wb") as f:
        f.write(superblock(start, end))
        f.write(directory(dirblock, len(listing) * 16))
        f.write(b"".join(regular(ino, fileblock, extent) for ino in slots))
        f.seek(dirblock * BLOCK)
        f.write(b"".join(listing))
        f.seek(fileblock * BLOCK)
        f.write(os.urandom(extent))
    return end


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    kind, out = sys.argv[1], sys.argv[2]
    if kind == "table":
        length = table(out)
    elif kind == "quadratic" and len(sys.argv) == 4:
        length = quadratic(out, int(sys.argv[3]))
    elif kind == "dense":
        length = dense(out)
    elif kind == "amplify":
        inos = list(range(3, 2003))
        length = shared_extent(out, inos, [(i, "f%d" % i) for i in inos])
    elif kind == "same-ino":
        length = shared_extent(out, [3] * 16000, [(3, "f")])
    else:
        sys.exit(__doc__)
    print(length)


if __name__ == "__main__":
    main()
