// Sizes on the command line (--max-output): the suffixes and where a
// number stops fitting in 64 bits.
#include <gtest/gtest.h>

#include "options.h"

namespace {

TEST(SizeOptionTest, SuffixesAndOverflow) {
  const struct {
    const char* text;
    bool ok;
    uint64_t bytes;
  } rows[] = {
      {"0", true, 0},
      {"512", true, 512},
      {"1K", true, 1024},
      {"1k", true, 1024},
      {"3M", true, 3145728},
      {"2G", true, 2147483648},
      {"1T", true, 1099511627776},
      {"16777215T", true, 18446742974197923840u},
      {"16777216T", false, 0},  // 2^64
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},
      {"", false, 0},
      {"M", false, 0},
      {"1P", false, 0},
      {"1KB", false, 0},
      {"-1", false, 0},
  };
  for (const auto& row : rows) {
    uint64_t bytes = 0;
    EXPECT_EQ(parseSize(row.text, &bytes), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(bytes, row.bytes) << row.text;
    }
  }
}

}  // namespace
