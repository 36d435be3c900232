// The orphans of a damaged file system in the mount: a subdirectory of its
// file system's directory, as extraction writes them.
#include <fcntl.h>

#include "bfsscan/bfsscan.h"
#include "harness.h"
#include "mount_operations.h"
#include "tree_collector.h"

namespace {

class ImageSource : public ByteSource {
 public:
  explicit ImageSource(const bfsscan::Image& image) : image_(image) {}
  size_t read(uint64_t pos, char* buffer, size_t n) override { return image_.read(pos, buffer, n); }

 private:
  const bfsscan::Image& image_;
};

class NoLog : public LineLog {
 public:
  void line(const std::string&) override {}
};

TEST(MountOrphans, AreInTheirDirectoryBesideTheFiles) {
  TempDir dir;
  const std::string path = dir / "disk.img";
  const mkbfs::Layout layout = writeImage(path, {{"a", "first"}, {"b", "second"}});
  // The entry of b (index 3, after "." and "..") names no inode.
  mkbfs::ImageWriter(path, false).write((layout.start + 511) / 512 * 512 + 16 * 3,
                                        std::string(2, '\0'));
  std::unique_ptr<bfsscan::Image> image = bfsscan::Image::open(path);
  MountTree tree;
  NoLog log;
  bfsscan::ScanConfig config;
  config.dryRun = config.listOnly = config.keepGoing = true;
  TreeCollector collector(tree, log);
  bfsscan::scan(*image, config, collector);
  ImageSource source(*image);
  MountOperations ops(tree, source, log, path, DirectoryAttributes{});

  auto list = [&](const std::string& d) {
    std::vector<std::string> names;
    EXPECT_EQ(ops.readdir(d, [&](std::string_view n, const NodeAttributes&) {
      names.emplace_back(n);
      return true;
    }), 0) << d;
    return names;
  };
  EXPECT_EQ(list("/"), std::vector<std::string>{"disk-0"});
  EXPECT_EQ(list("/disk-0"), (std::vector<std::string>{".bfsscan-orphans", "a"}));
  EXPECT_EQ(list("/disk-0/.bfsscan-orphans"), std::vector<std::string>{"ino-4"});
  NodeAttributes a;
  EXPECT_EQ(ops.getattr("/disk-0", &a), 0);
  EXPECT_EQ(a.nlink, 3u);
  EXPECT_EQ(ops.getattr("/disk-0/.bfsscan-orphans/ino-4", &a), 0);
  EXPECT_EQ(a.size, 6u);
  EXPECT_EQ(ops.getattr("/disk-0/.bfsscan-orphans/ino-5", &a), -ENOENT);
  uint64_t h = 0;
  ASSERT_EQ(ops.open("/disk-0/.bfsscan-orphans/ino-4", O_RDONLY, &h), 0);
  char buf[16];
  EXPECT_EQ(std::string(buf, static_cast<size_t>(ops.read(h, buf, sizeof buf, 0))), "second");
}

}  // namespace
