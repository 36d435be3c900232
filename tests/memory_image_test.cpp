// Images held in memory: their bytes are read in place, cut where the image
// ends, and a scan that reads them in place reports and extracts exactly
// what a scan that copies them through its buffers does.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console.h"
#include "harness.h"
#include "image_builder.h"
#include "memory_image.h"
#include "memory_tree.h"
#include "scan.h"
#include "text_report.h"

namespace {

// An image over another that counts the bytes copied out of it, and passes
// its in-place reads on only when told to.
class CountingImage : public Image {
 public:
  CountingImage(const Image& inner, bool inPlace) : inner_(inner), inPlace_(inPlace) {}
  const char* formatName() const override { return inner_.formatName(); }
  int64_t length() const override { return inner_.length(); }
  bool isSameFile(dev_t, ino_t) const override { return false; }
  size_t readUpTo(uint64_t pos, char* buf, size_t n) const override {
    const size_t got = inner_.readUpTo(pos, buf, n);
    copied += got;
    return got;
  }
  const char* inPlace(uint64_t pos, size_t& n) const override {
    return inPlace_ ? inner_.inPlace(pos, n) : nullptr;
  }
  mutable uint64_t copied = 0;

 private:
  const Image& inner_;
  bool inPlace_;
};

struct Scanned {
  std::string report;
  std::vector<std::string> files;  // "DIR/NAME=BYTES", in order
  int status;
  uint64_t copied;
};

Scanned scan(const std::string& bytes, bool inPlace, bool keepGoing) {
  const MemoryImage memory(bytes.data(), bytes.size());
  const CountingImage image(memory, inPlace);
  std::ostringstream out, err;
  StreamConsole console(out, err);
  TextReport report(console, "disk.img");
  MemoryTree tree;
  ScanRequest request;
  request.image = "disk.img";
  request.format = ImageFormat::kRaw;
  request.config.keepGoing = keepGoing;
  request.tree = &tree;
  const int status = scanImage(&image, request, report, nullptr).status;
  Scanned s{out.str() + err.str(), {}, status, image.copied};
  for (const MemoryTree::Commit& c : tree.commits()) {
    s.files.push_back(c.directory + "/" + c.name + "=" + c.bytes);
  }
  return s;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(MemoryImageTest, InPlaceReadsStopAtTheEnd) {
  const std::string bytes = "0123456789";
  const MemoryImage image(bytes.data(), bytes.size());
  struct Case {
    const char* label;
    uint64_t pos;
    size_t n;
    size_t wantN;
    const char* want;
  } cases[] = {
      {"inside", 2, 3, 3, "234"},
      {"up to the end", 6, 4, 4, "6789"},
      {"across the end", 8, 5, 2, "89"},
      {"at the end", 10, 4, 0, ""},
      {"far past the end", 1ull << 62, 4, 0, ""},
      {"nothing asked", 3, 0, 0, ""},
  };
  for (const Case& c : cases) {
    size_t n = c.n;
    const char* at = image.inPlace(c.pos, n);
    ASSERT_NE(at, nullptr) << c.label;
    EXPECT_EQ(std::string(at, n), c.want) << c.label;
    EXPECT_EQ(n, c.wantN) << c.label;
    char copy[8] = {};
    EXPECT_EQ(image.readUpTo(c.pos, copy, c.n), c.wantN) << c.label;
    EXPECT_EQ(std::string(copy, c.wantN), c.want) << c.label;
  }
  const MemoryImage empty(nullptr, 0);
  size_t n = 4;
  EXPECT_NE(empty.inPlace(0, n), nullptr);
  EXPECT_EQ(n, 0u);
}

TEST(MemoryImageTest, AFileImageIsNotReadInPlace) {
  TempDir dir;
  const std::string path = dir.path() + "/disk.img";
  writeImage(path, {{"a", "first"}});
  const RawImage image(path);
  size_t n = 512;
  EXPECT_EQ(image.inPlace(0, n), nullptr);
  EXPECT_EQ(n, 512u);
}

TEST(MemoryImageTest, ScanInPlaceIsTheScanThroughBuffers) {
  TempDir dir;
  const std::string path = dir.path() + "/disk.img";
  mkbfs::Layout second;
  {
    mkbfs::ImageWriter w(path);
    mkbfs::writeFileSystem(w, 0, {{"a", "first"}, {"b", pattern(3000)}});
    second = mkbfs::writeFileSystem(w, 16384, {{"c", "second"}});
  }
  const std::string whole = fileBytes(path);
  // Its root directory is the block before its first file.
  const size_t secondRoot = 16384 + (second.sblocks[0] - 1) * 512;
  struct Case {
    const char* label;
    std::string bytes;
    bool keepGoing;
    int status;
    size_t files;
  } cases[] = {
      {"two file systems", whole, false, 0, 3},
      {"the second cut inside its inode table", whole.substr(0, 16384 + 600), false, 2, 2},
      {"the second cut, keep going", whole.substr(0, 16384 + 600), true, 2, 2},
      {"the second cut inside its root directory", whole.substr(0, secondRoot + 40), true, 2, 2},
      {"the first cut inside file b", whole.substr(0, 5000), true, 2, 1},
      {"the first alone, a block over", whole.substr(0, 8192 + 512), false, 0, 2},
  };
  for (const Case& c : cases) {
    const Scanned inPlace = scan(c.bytes, true, c.keepGoing);
    const Scanned copied = scan(c.bytes, false, c.keepGoing);
    EXPECT_EQ(inPlace.report, copied.report) << c.label;
    EXPECT_EQ(inPlace.files, copied.files) << c.label;
    EXPECT_EQ(inPlace.status, c.status) << c.label;
    EXPECT_EQ(copied.status, c.status) << c.label;
    EXPECT_EQ(inPlace.files.size(), c.files) << c.label;
    EXPECT_EQ(inPlace.copied, 0u) << c.label;
    EXPECT_GE(copied.copied, c.bytes.size() / 512 * 512) << c.label;
  }
  const Scanned cut = scan(whole.substr(0, secondRoot + 40), true, false);
  EXPECT_NE(cut.report.find("root directory runs past the end of the image"), std::string::npos)
      << cut.report;
}

}  // namespace
