// --html on the real binary: the page beside an unchanged report, complete
// however the run ends, and the guards it shares with the other results
// files. What the page shows in a browser is html_browser_test.py's.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A nested file system, and one cut short, each give a whole page.
TEST(HtmlReportTest, PageBesideTheSameReportHoweverTheRunEnds) {
  const struct {
    const char* label;
    size_t cut;  // bytes of the outer image kept; 0: all
    int status;
    std::vector<std::string> parts;
  } rows[] = {
      {"nested", 0, 0,
       {"<strong class=\"r-status0\">0</strong>: complete: the whole image was read",
        "<tr><th>Nesting</th><td>level 1: inside the file \"in&lt;1&gt;.img\" of the "
        "file system at offset 0 (0x0)</td></tr>",
        "<td class=\"r-name\">notes</td>",
        "<a href=\"./outer-2048/notes\">outer-2048/notes</a>",
        "<tr><th>Read as</th><td>raw</td></tr>"}},
      {"cut short", 4000, 2,
       {"<strong class=\"r-status2\">2</strong>: incomplete: something could not be read",
        "<h2 id=\"problems\">Problems of the run</h2>\n<div class=\"r-scroll\">\n"
        "<table class=\"r-grid r-problems\">",
        "<td class=\"r-name\">in&lt;1&gt;.img</td>"}},
  };
  for (const auto& row : rows) {
    TempDir dir;
    writeImage(dir / "inner.img", {{"notes", "second file system\n"}});
    writeImage(dir / "outer.img",
               {{"hello", "hello\n"}, {"in<1>.img", readFile(dir / "inner.img")}});
    if (row.cut != 0) {
      const std::string whole = readFile(dir / "outer.img");
      ASSERT_EQ(run({"/usr/bin/truncate", "-s", std::to_string(row.cut), "outer.img"},
                    dir.path()).status, 0);
      ASSERT_LT(row.cut, whole.size());
    }
    TempDir plain;
    const RunResult without = run({BFSSCAN_BIN, "-C", plain.path(), "outer.img"}, dir.path());
    const RunResult r = run({BFSSCAN_BIN, "--html=page.html", "outer.img"}, dir.path());
    EXPECT_EQ(r.status, row.status) << row.label;
    EXPECT_EQ(r.out, without.out) << row.label;
    EXPECT_EQ(r.err, without.err) << row.label;
    const std::string page = readFile(dir / "page.html");
    EXPECT_EQ(page.compare(0, 16, "<!DOCTYPE html>\n"), 0) << row.label;
    EXPECT_TRUE(page.size() > 8 && page.compare(page.size() - 8, 8, "</html>\n") == 0) << row.label;
    for (const std::string& part : row.parts) EXPECT_TRUE(has(page, part)) << row.label << ": " << part;
    // No temporary file is left beside the page.
    for (const std::string& name : listTree(dir.path())) {
      EXPECT_EQ(name.find(".bfsscan-"), std::string::npos) << row.label << ": " << name;
    }
  }
}

// A page that cannot be made, would replace the image or another results
// file, ends the run before the scan.
TEST(HtmlReportTest, PageThatCannotBeWrittenStopsBeforeTheScan) {
  const struct {
    const char* label;
    std::vector<std::string> options;
    const char* err;
    int status;
  } rows[] = {
      {"missing directory", {"--html=no/r.html"},
       "bfsscan: cannot write \"no/r.html\": No such file or directory\n", 2},
      {"the image itself", {"--html=./f.img"},
       "bfsscan: cannot write \"./f.img\": it is the image \"f.img\"\n", 1},
      {"the map's file", {"--html=r", "--map=r"},
       "bfsscan: --html needs a file of its own (see bfsscan --help)\n", 1},
      {"the map's file, spelt otherwise", {"--html=r", "--map=./r"},
       "bfsscan: --map and --html name one file: \"./r\" and \"r\" (see bfsscan --help)\n", 1},
      {"two on standard output", {"--html=-", "--json=-"},
       "bfsscan: --html cannot take standard output with another option (see bfsscan --help)\n",
       1},
  };
  for (const auto& row : rows) {
    TempDir dir;
    writeImage(dir / "f.img", {{"f", "data"}});
    std::vector<std::string> argv{BFSSCAN_BIN};
    argv.insert(argv.end(), row.options.begin(), row.options.end());
    argv.push_back("f.img");
    const RunResult r = run(argv, dir.path());
    EXPECT_EQ(r.status, row.status) << row.label;
    EXPECT_EQ(r.out, "") << row.label;
    EXPECT_EQ(r.err, row.err) << row.label;
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"f.img"}) << row.label;
  }
}

}  // namespace
