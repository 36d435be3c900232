// The stems of an archive's members: each handed out once, the next number
// kept per stem, so that the work grows with the members, not their square.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unique_stems.h"

namespace {

TEST(UniqueStems, EachStemOnceInLinearWork) {
  const struct {
    const char* label;
    std::vector<std::string> members, stems;
  } rows[] = {
      {"one name", {"d", "d", "d"}, {"d", "d.2", "d.3"}},
      {"a name that is another's numbered stem, after it", {"d", "d", "d.2"}, {"d", "d.2", "d.2.2"}},
      {"a name that is another's numbered stem, before it", {"d.2", "d", "d"}, {"d.2", "d", "d.3"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    UniqueStems stems;
    std::vector<std::string> got;
    for (const std::string& m : row.members) got.push_back(stems.take(m));
    EXPECT_EQ(got, row.stems);
  }
  UniqueStems many;
  for (int i = 0; i < 30000; ++i) many.take("d");
  EXPECT_EQ(many.take("d"), "d.30001");
  EXPECT_EQ(many.tries(), 30001u);
}

}  // namespace
