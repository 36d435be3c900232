// The library opens what the command opens: a compressed image is its raw
// image, an archive's members are scanned one after another with a member
// event each, and what cannot be one image is an error of Image::open.
#include <gtest/gtest.h>

#include <sstream>

#include "bfsscan/bfsscan.h"
#include "harness.h"

namespace {

// The members, images and file systems of a scan, one line each.
class Members : public bfsscan::Sink {
 public:
  void member(const bfsscan::MemberEvent& e) override {
    out << "member " << e.archive << " " << e.name << "\n";
  }
  void image(const bfsscan::ImageEvent& e) override {
    out << "image " << e.path << " " << e.length << " " << e.format << "\n";
  }
  void fileSystem(const bfsscan::FileSystemEvent& e) override { out << "fs " << e.base << "\n"; }
  void problem(const bfsscan::ProblemEvent& e) override { out << "problem " << e.text << "\n"; }
  std::ostringstream out;
};

}  // namespace

TEST(ApiInput, CompressedAndArchivedImagesAsTheCommandReadsThem) {
  TempDir dir;
  writeImage(dir / "disk.img", {{"f", pattern(3000, 1)}});
  const std::string length = std::to_string(readFile(dir / "disk.img").size());
  for (const char* t : {"gzip", "zip"}) {
    if (tool(t).empty()) GTEST_SKIP() << t << " is not installed";
  }
  ASSERT_EQ(run({"/bin/sh", "-c",
                 "gzip -c disk.img > disk.gz && mkdir t && cp disk.img t/ && "
                 "zip -q two.zip disk.img t/disk.img"},
                dir.path()).status, 0);
  const struct {
    const char* label;
    std::string path, format;
    std::string events;  // of the scan
    std::string opened;  // what Image::open gives, or its error
  } rows[] = {
      {"gzip, told by its signature", dir / "disk.gz", "auto",
       "image " + (dir / "disk.gz") + " " + length + " raw\nfs 0\n", "raw " + length},
      {"gzip, named", dir / "disk.gz", "gzip",
       "image " + (dir / "disk.gz") + " " + length + " raw\nfs 0\n", "raw " + length},
      {"a zip of two members", dir / "two.zip", "auto",
       "member " + (dir / "two.zip") + " disk.img\nimage " + (dir / "two.zip") + ":disk.img " +
           length + " raw\nfs 0\nmember " + (dir / "two.zip") + " t/disk.img\nimage " +
           (dir / "two.zip") + ":t/disk.img " + length + " raw\nfs 0\n",
       "an archive of several images (a scan by its path reads each)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    Members sink;
    bfsscan::ScanConfig config;
    config.dryRun = true;
    EXPECT_EQ(bfsscan::scan(row.path, row.format, config, sink).status, 0);
    EXPECT_EQ(sink.out.str(), row.events);
    std::string opened;
    try {
      const auto image = bfsscan::Image::open(row.path, row.format);
      opened = image->format() + " " + std::to_string(image->length());
    } catch (const bfsscan::ImageError& e) {
      opened = e.what();
    }
    EXPECT_EQ(opened, row.opened);
  }
}
