// Fuzzing target: the on-disk records. The input's first 512 bytes are
// tested as a superblock; what follows is decoded as inode slots and, again,
// as directory entries (64 of each at most),
// through the helpers that send the events. Checks: detection agrees with
// the magic and the counts; decoding never reads past its record, reports
// exactly the slots in use with the fields it decoded, and throws exactly
// when it returns a violated condition; a name is the entry's bytes up to
// the first NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "consistency.h"
#include "fuzz_check.h"
#include "record_events.h"
#include "sys/fs/bfs.h"

namespace {

struct Events : ScanSink {
  void hit(const HitEvent& e) override { hits.push_back(e); }
  void inode(const InodeEvent& e) override { inodes.push_back(e); }
  void dirent(const DirentEvent& e) override { dirents.push_back(e); }
  std::vector<HitEvent> hits;
  std::vector<InodeEvent> inodes;
  std::vector<DirentEvent> dirents;
};

uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void superblock(const uint8_t* data, size_t size) {
  // Exactly one block, in a buffer of its own, so that a read past it shows.
  std::vector<char> block(BFS_BSIZE, 0);
  std::memcpy(block.data(), data, std::min<size_t>(size, BFS_BSIZE));
  const uint8_t* b = reinterpret_cast<const uint8_t*>(block.data());
  BfsHit hit;
  const bool magic = be32(b) == BFS_MAGIC;
  FUZZ_CHECK(examine_bfs(block.data(), 512, &hit) == magic);
  Events events;
  bool accepted = false, threw = false;
  try {
    accepted = detectAndReport(block.data(), 512, events);
  } catch (const InconsistentFileSystem&) {
    threw = true;
  }
  FUZZ_CHECK(events.hits.size() == (magic ? 1u : 0u));
  if (!magic) return;
  const uint32_t start = be32(b + 4), end = be32(b + 8);
  FUZZ_CHECK(hit.offset == 512 && hit.start == start && hit.end == end);
  FUZZ_CHECK(events.hits[0].verdict == static_cast<HitEvent::Verdict>(hit.verdict));
  if (start >= end) {
    FUZZ_CHECK(hit.verdict == BfsHit::kDiscarded && !accepted && !threw);
    return;
  }
  FUZZ_CHECK(hit.nr2 == (start - 388u) / BFS_INODESIZE);
  FUZZ_CHECK(accepted == (hit.verdict == BfsHit::kAccepted));
  FUZZ_CHECK(threw == (hit.verdict == BfsHit::kCountMismatch));
  if (accepted) {
    // The table ends at a slot boundary, reached before offsets wrap.
    FUZZ_CHECK(start >= 388 && (start - 388) % BFS_INODESIZE == 0 && hit.nr == hit.nr2);
    const bfsSuperBlock bsb(block.data(), 512);
    FUZZ_CHECK(bsb.numInodes() == hit.nr);
  }
}

void slot(const uint8_t* raw) {
  std::vector<char> record(raw, raw + BFS_INODESIZE);
  bfsDirent d;
  bfsDirent::Stage stage;
  const char* violated = bfsDirent::decode(record.data(), &d, &stage);
  const uint16_t ino = static_cast<uint16_t>(raw[0] << 8 | raw[1]);
  FUZZ_CHECK(d.d_ino == ino);
  if (ino == 0) FUZZ_CHECK(violated == nullptr && d.undefined());
  if (violated == nullptr && ino != 0) {
    FUZZ_CHECK(stage == bfsDirent::kDecoded);
    FUZZ_CHECK(d.isDirectory() != d.isRegular());
    FUZZ_CHECK(d.d_sblock <= d.d_eblock && d.d_sblock * BFS_BSIZE <= d.d_eoffset);
  }
  bool threw = false;
  try {
    const bfsDirent checked(record.data(), 0);
  } catch (const InconsistentFileSystem&) {
    threw = true;
  }
  FUZZ_CHECK(threw == (violated != nullptr));
  Events events;
  try {
    decodeAndReport(record.data(), 512, 3, events);
    FUZZ_CHECK(violated == nullptr);
  } catch (const InconsistentFileSystem& e) {
    FUZZ_CHECK(violated != nullptr && e.condition() == violated);
  }
  FUZZ_CHECK(events.inodes.size() == (ino != 0 ? 1u : 0u));
  if (ino != 0) {
    const InodeEvent& e = events.inodes[0];
    FUZZ_CHECK(e.fs == 512 && e.slot == 3 && e.inode.ino == ino);
    FUZZ_CHECK(e.stage == static_cast<InodeEvent::Stage>(stage));
    if (stage != bfsDirent::kBadExtent) {
      FUZZ_CHECK(e.inode.firstBlock == be32(raw + 2) && e.inode.lastByte == be32(raw + 10));
    }
    if (stage == bfsDirent::kDecoded) FUZZ_CHECK(e.inode.mtime == be32(raw + 14 + 24));
  }
}

void entry(const uint8_t* raw) {
  std::vector<char> record(raw, raw + BFS_DIRENTSIZE);
  Events events;
  const bfsLDirs e = decodeAndReportEntry(record.data(), 512, events);
  const uint16_t ino = static_cast<uint16_t>(raw[0] << 8 | raw[1]);
  FUZZ_CHECK(e.l_ino == ino && e.undefined() == (ino == 0));
  const std::string name = e.toString();
  const char* bytes = record.data() + 2;
  const size_t len = strnlen(bytes, BFS_DIRNAMELEN);
  FUZZ_CHECK(name == std::string(bytes, len));
  FUZZ_CHECK(events.dirents.size() == (ino != 0 ? 1u : 0u));
  if (ino != 0) FUZZ_CHECK(events.dirents[0].name == name && events.dirents[0].ino == ino);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  superblock(data, size);
  // The bytes after the first block as inode slots, then the same bytes as
  // directory entries, 64 of each at most (a record throws when its check
  // fails, which costs).
  const uint8_t* rest = data + std::min<size_t>(size, BFS_BSIZE);
  const size_t left = size - std::min<size_t>(size, BFS_BSIZE);
  for (size_t k = 0; k < 64 && (k + 1) * BFS_INODESIZE <= left; ++k) slot(rest + k * BFS_INODESIZE);
  for (size_t k = 0; k < 64 && (k + 1) * BFS_DIRENTSIZE <= left; ++k) entry(rest + k * BFS_DIRENTSIZE);
  return 0;
}
