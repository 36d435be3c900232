// The mount's tree and operations, through the library, without the kernel.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>

#include "bfsscan/bfsscan.h"
#include "harness.h"
#include "mount_operations.h"
#include "mount_options.h"
#include "mount_tree.h"
#include "read_ahead.h"
#include "splice_pipe.h"
#include "tree_collector.h"

namespace {

class ListLog : public LineLog {
 public:
  void line(const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

// The image in pieces of at most 512 bytes (as a container's chunks), except
// that a read covering badByte throws.
class FlakySource : public ByteSource {
 public:
  FlakySource(const bfsscan::Image& image, uint64_t badByte) : image_(image), bad_(badByte) {}
  size_t read(uint64_t pos, char* buffer, size_t n) override {
    n = std::min<size_t>(n, 512);
    if (pos <= bad_ && bad_ < pos + n) throw bfsscan::ImageError("Input/output error");
    return image_.read(pos, buffer, n);
  }

 private:
  const bfsscan::Image& image_;
  uint64_t bad_;
};

struct Mounted {
  explicit Mounted(const std::string& path, uint64_t badByte = UINT64_MAX,
                   size_t maxEntries = MountTree::kDefaultMaxEntries)
      : image(bfsscan::Image::open(path)), tree(maxEntries), source(*image, badByte) {
    bfsscan::ScanConfig config;
    config.dryRun = config.listOnly = config.keepGoing = true;
    config.maxOutput = 0;
    TreeCollector collector(tree, log);
    bfsscan::scan(*image, config, collector);
    ops = std::make_unique<MountOperations>(tree, source, log, path,
                                            DirectoryAttributes{7, 8, 1, 2, 3});
  }
  std::vector<std::string> list(const std::string& dir) const {
    std::vector<std::string> names;
    const int rc = ops->readdir(dir, [&](std::string_view n, const NodeAttributes&) {
      names.emplace_back(n);
      return true;
    });
    EXPECT_EQ(rc, 0) << dir;
    return names;
  }
  // The whole file, read in pieces of the given size; empty on a failure.
  std::string contents(const std::string& path, size_t piece = 1 << 20) const {
    uint64_t h = 0;
    if (ops->open(path, O_RDONLY, &h) != 0) return "<not opened>";
    std::string all;
    std::string buf(piece, '\0');
    for (uint64_t off = 0;; off += piece) {
      const ssize_t n = ops->read(h, buf.data(), piece, off);
      if (n < 0) return "<error " + std::to_string(-n) + ">";
      all.append(buf.data(), static_cast<size_t>(n));
      if (static_cast<size_t>(n) < piece) return all;
    }
  }
  std::unique_ptr<bfsscan::Image> image;
  MountTree tree;
  ListLog log;
  FlakySource source;
  std::unique_ptr<MountOperations> ops;
};

}  // namespace

TEST(MountTree, NestedFileSystemsEachADirectoryOfTheirFiles) {
  TempDir dir;
  const std::string path = dir / "disk.img";
  const std::string inner = pattern(3000, 2);
  {
    mkbfs::ImageWriter w(path);
    mkbfs::writeFileSystem(w, 0, {{"outer", std::string(70000, 'o')}, {"zz", "z"}});
    // A second file system inside the first one's file "outer".
    mkbfs::writeFileSystem(w, 4096, {{"b", inner}, {"a", "aa"}});
  }
  Mounted m(path);
  EXPECT_EQ(m.list("/"), (std::vector<std::string>{"disk-0", "disk-4096"}));
  EXPECT_EQ(m.list("/disk-0"), (std::vector<std::string>{"outer", "zz"}));
  EXPECT_EQ(m.list("/disk-4096"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(m.contents("/disk-4096/b", 1000), inner);
  EXPECT_EQ(m.contents("/disk-4096/a"), "aa");
  EXPECT_TRUE(m.log.lines.empty());
}

TEST(MountTree, AttributesComeFromTheInode) {
  TempDir dir;
  const std::string path = dir / "attr.img";
  TestImage img(path);
  const mkbfs::Layout layout = mkbfs::writeFileSystem(img.writer(), 0, {{"f", "hello"}});
  mkbfs::Inode f = mkbfs::fileInode(3, layout.sblocks[0], 5);
  f.mode = 0106751;  // setuid and sticky stay; the type bits do not
  f.uid = 1234;
  f.gid = 567;
  f.atime = 4000000000u;  // past 2038: unsigned
  f.mtime = 1000;
  f.ctime = 2000;
  img.inode(0, f);
  Mounted m(path);
  struct Row {
    const char* label;
    const char* path;
    int rc;
    NodeAttributes want;
  };
  const Row rows[] = {
      {"file", "/attr-0/f", 0, {false, 06751, 5, 1234, 567, 1, 4000000000, 1000, 2000}},
      {"file system", "/attr-0", 0, {true, 0555, 0, 7, 8, 2, 1, 2, 3}},
      {"root", "/", 0, {true, 0555, 0, 7, 8, 3, 1, 2, 3}},
      {"no such file", "/attr-0/g", -ENOENT, {}},
      {"no such file system", "/attr-512", -ENOENT, {}},
      {"below a file", "/attr-0/f/x", -ENOTDIR, {}},
      {"relative", "attr-0", -ENOENT, {}},
  };
  for (const Row& r : rows) {
    NodeAttributes a;
    EXPECT_EQ(m.ops->getattr(r.path, &a), r.rc) << r.label;
    if (r.rc != 0) continue;
    EXPECT_EQ(a.directory, r.want.directory) << r.label;
    EXPECT_EQ(a.permissions, r.want.permissions) << r.label;
    EXPECT_EQ(a.size, r.want.size) << r.label;
    EXPECT_EQ(a.uid, r.want.uid) << r.label;
    EXPECT_EQ(a.gid, r.want.gid) << r.label;
    EXPECT_EQ(a.nlink, r.want.nlink) << r.label;
    EXPECT_EQ(a.atime, r.want.atime) << r.label;
    EXPECT_EQ(a.mtime, r.want.mtime) << r.label;
    EXPECT_EQ(a.ctime, r.want.ctime) << r.label;
  }
}

TEST(MountTree, OpenIsForReadingFilesOnly) {
  TempDir dir;
  const std::string path = dir / "ro.img";
  writeImage(path, {{"f", "x"}});
  Mounted m(path);
  struct Row {
    const char* label;
    const char* path;
    int flags;
    int rc;
  };
  const Row rows[] = {
      {"read", "/ro-0/f", O_RDONLY, 0},
      {"write", "/ro-0/f", O_WRONLY, -EROFS},
      {"read and write", "/ro-0/f", O_RDWR, -EROFS},
      {"truncate", "/ro-0/f", O_RDONLY | O_TRUNC, -EROFS},
      {"append", "/ro-0/f", O_RDONLY | O_APPEND, -EROFS},
      {"a directory", "/ro-0", O_RDONLY, -EISDIR},
      {"missing", "/ro-0/g", O_RDONLY, -ENOENT},
  };
  for (const Row& r : rows) {
    uint64_t h = 99;
    EXPECT_EQ(m.ops->open(r.path, r.flags, &h), r.rc) << r.label;
  }
}

TEST(MountTree, ReadsServeTheRequestedRange) {
  TempDir dir;
  const std::string path = dir / "r.img";
  const std::string data = pattern(1500, 3);
  writeImage(path, {{"f", data}});
  Mounted m(path);
  uint64_t h = 0;
  ASSERT_EQ(m.ops->open("/r-0/f", O_RDONLY, &h), 0);
  struct Row {
    const char* label;
    uint64_t offset;
    size_t size;
    ssize_t got;
  };
  const Row rows[] = {
      {"inside", 100, 200, 200},
      {"across the end", 1400, 4096, 100},
      {"at the end", 1500, 10, 0},
      {"past the end", 1 << 30, 10, 0},
  };
  for (const Row& r : rows) {
    std::string buf(r.size, '\0');
    EXPECT_EQ(m.ops->read(h, buf.data(), r.size, r.offset), r.got) << r.label;
    if (r.got > 0) {
      EXPECT_EQ(buf.substr(0, r.got), data.substr(r.offset, r.got)) << r.label;
    }
  }
  char c;
  EXPECT_EQ(m.ops->read(12345, &c, 1, 0), -EBADF);
}

// The file is listed by the scan without its bytes; a read that touches the
// bad byte fails whole, others succeed.
TEST(MountTree, ARequestTouchingAnUnreadableByteFailsWhole) {
  TempDir dir;
  const std::string path = dir / "bad.img";
  const mkbfs::Layout layout =
      writeImage(path, {{"good", pattern(2000, 4)}, {"bad", pattern(3000, 5)}});
  const uint64_t badFile = layout.sblocks[1] * 512ull;
  Mounted m(path, badFile + 2500);
  EXPECT_EQ(m.list("/bad-0"), (std::vector<std::string>{"bad", "good"}));
  EXPECT_EQ(m.contents("/bad-0/good"), pattern(2000, 4));
  uint64_t h = 0;
  ASSERT_EQ(m.ops->open("/bad-0/bad", O_RDONLY, &h), 0);
  std::string buf(4096, '\0');
  EXPECT_EQ(m.ops->read(h, buf.data(), 1000, 0), 1000);
  EXPECT_EQ(m.ops->read(h, buf.data(), 1000, 1800), -EIO);  // the second piece fails
  EXPECT_EQ(m.ops->read(h, buf.data(), 100, 2600), 100);
  EXPECT_EQ(m.log.lines, (std::vector<std::string>{
                             "bfsmount: error reading " + path +
                             ": Input/output error (bad-0/bad, bytes 1800 to 2799 of the file, "
                             "image offset " + std::to_string(badFile + 1800) + ")"}));
}

// Of two files of one name the later inode wins, as extraction; files
// extraction leaves out (a refused name, past the end) are not there, and a
// file no entry names is among the orphans.
TEST(MountTree, TheFilesExtractionWouldWrite) {
  TempDir dir;
  const std::string path = dir / "n.img";
  TestImage img(path);
  img.superblock(0, 512 + 62 * 6, 20 * 512);
  img.inode(0, rootInode(8, 5));
  img.entries(0, 8, {{3, "same"}, {4, "same"}, {5, ".."}, {7, "cut"}, {2, "."}});
  img.inode(0, mkbfs::fileInode(3, 10, 3)).bytes(10 * 512, "one");
  img.inode(0, mkbfs::fileInode(4, 11, 3)).bytes(11 * 512, "two");
  img.inode(0, mkbfs::fileInode(5, 12, 3)).bytes(12 * 512, "dot");
  img.inode(0, mkbfs::fileInode(6, 13, 3)).bytes(13 * 512, "nom");  // no entry names it
  img.inode(0, mkbfs::fileInode(7, 14, 3));
  img.length(14 * 512 + 2);  // inode 7 runs past the end
  Mounted m(path);
  EXPECT_EQ(m.list("/n-0"), (std::vector<std::string>{".bfsscan-orphans", "same"}));
  EXPECT_EQ(m.contents("/n-0/.bfsscan-orphans/ino-6"), "nom");
  EXPECT_EQ(m.contents("/n-0/same"), "two");
  EXPECT_EQ(m.log.lines,
            (std::vector<std::string>{
                "bfsmount: file system at 0: \"n-0/same\" written again by inode 4: the file of "
                "inode 3 is lost",
                "bfsmount: file system at 0: inode 5 not extracted: unsafe name '..'",
                "bfsmount: file system at 0 is truncated: data of inode 7 runs past the end of "
                "the image (7170 bytes)"}));
}

TEST(MountTree, TablesStayBounded) {
  TempDir dir;
  const std::string path = dir / "many.img";
  writeImage(path, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}});
  Mounted m(path, UINT64_MAX, 3);  // the file system and two files
  EXPECT_EQ(m.list("/many-0"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(m.log.lines, (std::vector<std::string>{
                             "bfsmount: too many files: the tables are full; further file "
                             "systems and files are left out"}));
}

TEST(MountTree, TheDeviceOfAMountPointFromMountinfo) {
  const std::string info =
      "22 1 0:21 / /tmp rw - tmpfs tmpfs rw\n"
      "40 22 0:40 / /tmp/a\\040b rw - fuse.bfs bfsmount ro\n"
      "41 22 0:41 / /tmp/c rw - fuse.bfs bfsmount ro\n"
      "42 41 0:42 / /tmp/c rw - fuse.bfs bfsmount ro\n";
  struct Row {
    const char* label;
    const char* point;
    const char* device;
  };
  const Row rows[] = {
      {"a blank in the path", "/tmp/a b", "0:40"},
      {"mounted over: the last", "/tmp/c", "0:42"},
      {"not a mount point", "/tmp/a", ""},
      {"a prefix only", "/tm", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(mountDevice(info, r.point), r.device) << r.label;
}

TEST(MountOptions, TheLastMaxReadGivenAgreesWithTheMount) {
  struct Row {
    const char* label;
    std::vector<std::string> options;
    unsigned want;
  };
  const Row rows[] = {
      {"none", {}, 1048576},
      {"others only", {"allow_other,ro"}, 1048576},
      {"in a list", {"allow_other,max_read=65536,ro"}, 65536},
      {"the last wins", {"max_read=4096", "allow_other,max_read=8192"}, 8192},
      {"a longer key", {"xmax_read=4096"}, 1048576},
  };
  for (const Row& r : rows) EXPECT_EQ(maxReadOption(r.options, 1048576), r.want) << r.label;
}

// A fill puts exactly the bytes asked for in the pipe, or none: short
// files, bytes that take more pages than the pipe holds, and what a reader
// left behind.
TEST(SplicePipe, AllTheBytesOrNone) {
  TempDir dir;
  const std::string path = dir / "data";
  const std::string data = pattern(100000, 6);
  {
    std::ofstream out(path, std::ios::binary);
    out << data;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  SplicePipe pipe(16 * page);
  ASSERT_EQ(pipe.capacity(), 16 * page);
  // What is in the pipe, emptying it.
  auto drain = [&] {
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipe.readEnd(), buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    return got;
  };
  struct Row {
    const char* label;
    uint64_t pos;
    size_t n;
    bool filled;
  };
  const Row rows[] = {
      {"whole pages", 0, 16 * page, true},
      {"from inside a page", 100, 15 * page, true},
      {"one page more when not aligned", 100, 16 * page - 99, false},
      {"more than the pipe holds", 0, 16 * page + 1, false},
      {"up to the end of the file", 90000, 10000, true},
      {"past the end of the file", 90000, 10001, false},
      {"far past the end", 1 << 30, 10, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(pipe.fill(fd, r.pos, r.n), r.filled) << r.label;
    EXPECT_EQ(drain(), r.filled ? data.substr(r.pos, r.n) : "") << r.label;
  }
  // A reader that took only part: the next fill starts from an empty pipe.
  ASSERT_TRUE(pipe.fill(fd, 0, 3 * page));
  char part[100];
  ASSERT_EQ(::read(pipe.readEnd(), part, sizeof part), 100);
  ASSERT_TRUE(pipe.fill(fd, 5000, 2 * page));
  EXPECT_EQ(drain(), data.substr(5000, 2 * page));
  EXPECT_FALSE(pipe.fill(-1, 0, page)) << "no file";
  EXPECT_EQ(drain(), "");
  ::close(fd);
}
