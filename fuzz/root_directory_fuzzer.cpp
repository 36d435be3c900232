// Fuzzing target: the walk of a root directory. The input is an image with
// a file system at 0 (its superblock taken as it is, the magic not needed);
// when its inode table loads and has a root, the directory is read three
// times: with a fresh memo, with the memo that read filled, and with a
// memo filled by the same directory read for a file system one block
// further on. Each read must report the same entries and end the same way,
// and the name table must give each file the name its last entry gave,
// as the entry's bytes up to the first NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "consistency.h"
#include "fuzz_check.h"
#include "inode_table.h"
#include "memory_image.h"
#include "record_events.h"
#include "root_directory.h"
#include "sys/fs/bfs.h"

namespace {

struct Events : ScanSink {
  void dirent(const DirentEvent& e) override { log.push_back(e); }
  std::vector<DirentEvent> log;
};

struct Walk {
  std::vector<std::string> entries;
  std::map<uint32_t, std::string> names;  // by inode number, from the name table
  std::string end = "complete";
};

Walk walk(const Image& image, int64_t base, const bfsDirent& root, const InodeTable& inodes,
          DirectoryMemo& memo) {
  Walk result;
  Events sink;
  NameTable names;
  try {
    names = readRootDirectory(image, base, root, inodes, memo, sink, nullptr);
  } catch (const InconsistentFileSystem& v) {
    result.end = "violated " + v.condition();
  } catch (const ReadFailure& f) {
    FUZZ_CHECK(f.kind() == ReadFailure::kEndOfImage);
    result.end = "read past the end";
  }
  std::map<uint32_t, std::string> last;
  for (const DirentEvent& e : sink.log) {
    FUZZ_CHECK(e.ino != 0 && e.name.size() <= BFS_DIRNAMELEN);
    FUZZ_CHECK(e.name.find('\0') == std::string::npos);
    result.entries.push_back(std::to_string(e.ino) + " " + e.name);
    if (e.ino != BFS_ROOTINO) last[e.ino] = e.name;
  }
  if (result.end == "complete") {
    for (const auto& [ino, name] : last) FUZZ_CHECK(names.lookup(ino) == name);
    result.names = last;
  }
  return result;
}

bool same(const Walk& a, const Walk& b) {
  return a.entries == b.entries && a.names == b.names && a.end == b.end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> block(BFS_BSIZE, 0);
  std::memcpy(block.data(), data, std::min<size_t>(size, BFS_BSIZE));
  const MemoryImage image(data, size);
  try {
    const bfsSuperBlock bsb(block.data(), 0);
    NullSink nothing;
    OffsetRuns unused(BFS_INODESIZE);
    const InodeTable inodes = InodeTable::load(image, 0, bsb, unused, nothing, nullptr);
    const bfsDirent* root = inodes.root();
    if (root == nullptr) return 0;
    DirectoryMemo memo;
    const Walk fresh = walk(image, 0, *root, inodes, memo);
    FUZZ_CHECK(same(fresh, walk(image, 0, *root, inodes, memo)));
    // The same directory inode one block further on reads other bytes,
    // some of them the same ones at another place in the directory.
    DirectoryMemo shifted;
    walk(image, 512, *root, inodes, shifted);
    FUZZ_CHECK(same(fresh, walk(image, 0, *root, inodes, shifted)));
  } catch (const InconsistentFileSystem&) {
    // no superblock, or a table that breaks a condition
  } catch (const ReadFailure&) {
    // a table that runs past the image
  }
  return 0;
}
