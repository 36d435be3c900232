// bfsmount --deleted --unallocated serves the pieces extraction writes into
// .bfsscan-deleted and .bfsscan-unallocated: the same names and bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "harness.h"

namespace {

std::map<std::string, std::string> filesUnder(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const std::string& p : listTree(root)) {
    files[p] = p.back() == '/' ? "" : readFile(root + "/" + p);
  }
  return files;
}

TEST(BfsmountPieces, DeletedAndUnallocatedAsExtracted) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse";
  TempDir work;
  for (const auto& [name, data] : {std::pair<std::string, std::string>{"notes", "hello world"},
                                   {"gone", "gone file data"}}) {
    mkbfs::ImageWriter(work / name).write(0, data);
  }
  ASSERT_EQ(run({MKBFS_BIN, "--free-blocks", "2", "--marker", "MARK", "--clear-inode", "gone",
                 "--clear-entry", "gone", "disk.img", "notes", "gone"},
                work.path())
                .status,
            0);
  const std::vector<std::string> pieces{"--deleted", "--unallocated"};
  std::vector<std::string> scan{BFSSCAN_BIN, "-C", "out"};
  scan.insert(scan.end(), pieces.begin(), pieces.end());
  scan.push_back("disk.img");
  ASSERT_EQ(run(scan, work.path()).status, 0);
  const std::map<std::string, std::string> extracted = filesUnder(work / "out");
  ASSERT_EQ(extracted.count("disk-0/.bfsscan-deleted/slot-4"), 1u);

  ::mkdir((work / "mnt").c_str(), 0755);
  std::vector<std::string> mount{BFSMOUNT_BIN};
  mount.insert(mount.end(), pieces.begin(), pieces.end());
  mount.push_back("disk.img");
  mount.push_back("mnt");
  const RunResult r = run(mount, work.path());
  if (r.status == 2 && r.err.find("cannot mount") != std::string::npos) {
    GTEST_SKIP() << "mounting is not permitted here: " << r.err;
  }
  ASSERT_EQ(r.status, 0) << r.err;
  const std::map<std::string, std::string> served = filesUnder(work / "mnt");
  EXPECT_EQ(run({"/usr/bin/fusermount3", "-u", work / "mnt"}, "/").status, 0);
  EXPECT_EQ(served, extracted);
}

}  // namespace
