// --map on the real binary: the map of a mkbfs image with a file system
// nested in a file of another, beside an unchanged report.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

TEST(MapCliTest, MapOfANestedImageBesideTheSameReport) {
  TempDir dir;
  writeImage(dir / "inner.img", {{"notes", "second file system\n"}});
  writeImage(dir / "outer.img", {{"hello", "hello\n"}, {"inner.img", readFile(dir / "inner.img")}});
  TempDir plain;
  const RunResult without = run({BFSSCAN_BIN, "-C", plain.path(), "outer.img"}, dir.path());

  const RunResult r = run({BFSSCAN_BIN, "--map=map.svg", "outer.img"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, without.out);
  EXPECT_EQ(listTree(dir.path()),
            (std::vector<std::string>{"inner.img", "map.svg", "outer-0/", "outer-0/hello",
                                      "outer-0/inner.img", "outer-2048/", "outer-2048/notes",
                                      "outer.img"}));
  const RunResult lint = run({"/usr/bin/xmllint", "--noout", "map.svg"}, dir.path());
  EXPECT_EQ(lint.status, 0) << lint.err;

  const std::string svg = readFile(dir / "map.svg");
  EXPECT_NE(svg.find("<title>'hello'\ninode 3 of the file system at 0x0\n"), std::string::npos);
  EXPECT_NE(svg.find("\nextracted to outer-2048/notes</title>"), std::string::npos);
  EXPECT_NE(svg.find("-&gt; outer-2048, inside &apos;inner.img&apos; of the file system at 0x0"),
            std::string::npos);
  EXPECT_NE(svg.find(">status 0: complete, the scan read to the end of the image</text>"),
            std::string::npos);
}

// A map that cannot be made, or would replace the image, ends the run before
// the scan.
TEST(MapCliTest, MapThatCannotBeWrittenStopsBeforeTheScan) {
  const struct {
    const char* label;
    const char* option;
    const char* err;
    int status;
  } rows[] = {
      {"missing directory", "--map=no/map.svg",
       "bfsscan: cannot write \"no/map.svg\": No such file or directory\n", 2},
      {"the image itself", "--map=./f.img",
       "bfsscan: cannot write \"./f.img\": it is the image \"f.img\"\n", 1},
  };
  for (const auto& row : rows) {
    TempDir dir;
    writeImage(dir / "f.img", {{"f", "data"}});
    const std::string image = readFile(dir / "f.img");
    const RunResult r = run({BFSSCAN_BIN, row.option, "f.img"}, dir.path());
    EXPECT_EQ(r.status, row.status) << row.label;
    EXPECT_EQ(r.out, "") << row.label;
    EXPECT_EQ(r.err, row.err) << row.label;
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"f.img"}) << row.label;
    EXPECT_EQ(readFile(dir / "f.img"), image) << row.label;
  }
}

}  // namespace
