// The public API through the shared library: scans share no state, a stop
// token ends a scan, and opening reports what is wrong.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <thread>

#include "bfsscan/bfsscan.h"
#include "harness.h"

namespace {

// Writes every event as one line of text.
class Recorder : public bfsscan::Sink {
 public:
  void hit(const bfsscan::HitEvent& e) override { out << "hit " << e.offset << "\n"; }
  void inode(const bfsscan::InodeEvent& e) override {
    out << "inode " << e.fs << " " << e.slot << " " << e.inode.length() << "\n";
  }
  void dirent(const bfsscan::DirentEvent& e) override { out << "dirent " << e.name << "\n"; }
  void file(const bfsscan::FileEvent& e) override {
    out << "file " << e.name << " " << e.status;
    for (const auto& d : e.digests) out << " " << d.hex;
    out << "\n";
  }
  void problem(const bfsscan::ProblemEvent& e) override { out << "problem " << e.text << "\n"; }
  std::ostringstream out;
};

bfsscan::ScanConfig dryRun() {
  bfsscan::ScanConfig config;
  config.dryRun = true;
  config.hashes = {"sha256"};
  return config;
}

std::string scanned(const std::string& path, bfsscan::Outcome* outcome = nullptr) {
  Recorder r;
  const bfsscan::Outcome o = bfsscan::scan(path, "auto", dryRun(), r);
  if (outcome) *outcome = o;
  return r.out.str();
}

TEST(ApiTest, ScansInParallelThreadsGiveWhatEachGivesAlone) {
  TempDir dir;
  writeImage(dir / "a.img", {{"one", pattern(300000, 1)}, {"two", "2"}});
  writeImage(dir / "b.img", {{"three", pattern(500000, 2)}});
  const std::string a = scanned(dir / "a.img"), b = scanned(dir / "b.img");
  ASSERT_NE(a.find("file two 2"), std::string::npos) << a;
  std::string ta[4], tb[4];
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] { ta[i] = scanned(dir / "a.img"); });
    threads.emplace_back([&, i] { tb[i] = scanned(dir / "b.img"); });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ta[i], a);
    EXPECT_EQ(tb[i], b);
  }
}

TEST(ApiTest, StopTokenEndsTheScanWithItsStatus) {
  TempDir dir;
  writeImage(dir / "a.img", {{"one", "1"}});
  bfsscan::StopToken stop;
  stop.request(SIGTERM);
  stop.request(SIGINT);  // the first request wins
  Recorder r;
  const bfsscan::Outcome o = bfsscan::scan(dir / "a.img", "auto", dryRun(), r, &stop);
  EXPECT_EQ(o.status, 128 + SIGTERM);
  EXPECT_FALSE(o.reachedEnd);
  EXPECT_EQ(r.out.str(), "problem bfsscan: interrupted by SIGTERM at byte 0 of the image\n");
}

TEST(ApiTest, OpeningAndOutcome) {
  TempDir dir;
  writeImage(dir / "a.img", {{"one", "1"}, {"two", "22"}});
  auto image = bfsscan::Image::open(dir / "a.img");
  EXPECT_EQ(image->format(), "raw");
  char magic[4];
  ASSERT_EQ(image->read(0, magic, 4), 4u);
  EXPECT_EQ(std::string(magic, 4), "\x1b\xad\xfa\xce");
  Recorder r;
  const bfsscan::Outcome o = bfsscan::scan(*image, dryRun(), r);
  EXPECT_EQ(o.status, bfsscan::kComplete);
  EXPECT_EQ(o.fileSystems, 1u);
  EXPECT_EQ(o.filesExtracted, 2u);

  EXPECT_THROW(bfsscan::Image::open(dir / "missing.img"), bfsscan::ImageError);
  EXPECT_THROW(bfsscan::Image::open(dir / "a.img", "zip2"), std::invalid_argument);
  bfsscan::Outcome missing;
  EXPECT_EQ(scanned(dir / "missing.img", &missing),
            "problem error reading " + dir.path() + "/missing.img: No such file or directory\n");
  EXPECT_EQ(missing.status, bfsscan::kIncomplete);
}

}  // namespace
