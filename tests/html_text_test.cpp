// The HTML report's escaping: names as text with their bytes recoverable,
// and relative paths as links that no name turns into anything else.
#include <gtest/gtest.h>

#include "html_text.h"

namespace {

TEST(HtmlTextTest, NamesAreTextAndPathsAreRelativeLinks) {
  const struct {
    const char* label;
    std::string raw;
    std::string text;
    std::string href;
  } rows[] = {
      {"plain", "notes", "notes", "./notes"},
      {"markup", "<script>\"&'", "&lt;script&gt;&quot;&amp;&apos;", "./%3Cscript%3E%22%26%27"},
      {"short forms", std::string("a\tb\nc\rd\\", 8), "a\\tb\\nc\\rd\\\\", "./a%09b%0Ac%0Dd%5C"},
      {"escape look-alike", "\\x0a", "\\\\x0a", "./%5Cx0a"},
      {"control and NUL", std::string("\x01\x7f\0z", 4), "\\x01\\x7f\\x00z", "./%01%7F%00z"},
      {"UTF-8 kept, bad bytes escaped", "\xc3\xa9\xff", "\xc3\xa9\\xff", "./%C3%A9%FF"},
      {"scheme, query, fragment", "a:b?c#d", "a:b?c#d", "./a%3Ab%3Fc%23d"},
      {"folders", "../out/d-0/x y", "../out/d-0/x y", "./../out/d-0/x%20y"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(htmlText(row.raw), row.text) << row.label;
    EXPECT_EQ(hrefPath(row.raw), row.href) << row.label;
  }
}

}  // namespace
