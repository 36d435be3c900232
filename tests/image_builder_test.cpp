// The image builder's encoders and layout.
#include <gtest/gtest.h>

#include "harness.h"
#include "image_builder.h"

namespace {

TEST(ImageBuilder, EncodesBigEndian) {
  const std::string sb = mkbfs::superblock(0x23e, 0x1000);
  ASSERT_EQ(sb.size(), 512u);
  EXPECT_EQ(sb.substr(0, 12), std::string("\x1b\xad\xfa\xce\0\0\x02\x3e\0\0\x10\0", 12));
  mkbfs::Inode in;
  in.ino = 0x0102;
  in.sblock = 0x03040506;
  const std::string slot = mkbfs::inodeSlot(in);
  ASSERT_EQ(slot.size(), 62u);
  EXPECT_EQ(slot.substr(0, 6), std::string("\x01\x02\x03\x04\x05\x06", 6));
  EXPECT_EQ(slot.substr(18, 4), std::string("\0\0\x81\xa4", 4));  // mode 0100644
  EXPECT_EQ(mkbfs::dirEntries({{3, "unix"}}), std::string("\0\x03unix\0\0\0\0\0\0\0\0\0\0", 16));
}

TEST(ImageBuilder, LaysOutFilesContiguously) {
  TempDir dir;
  mkbfs::ImageWriter image(dir / "x.img");
  const auto layout = mkbfs::writeFileSystem(image, 1024, {{"a", "1"}, {"b", std::string(513, 'b')}});
  EXPECT_EQ(layout.start, 512u + 62 * 3);
  ASSERT_EQ(layout.sblocks.size(), 2u);
  EXPECT_EQ(layout.sblocks[0], 3u);  // after the block holding the root directory
  EXPECT_EQ(layout.sblocks[1], 4u);
  EXPECT_EQ(layout.end, 6u * 512 - 1);
  EXPECT_EQ(image.length(), 1024u + 6 * 512);
}

TEST(ImageBuilder, RefusesWhatItCannotStore) {
  const std::vector<std::vector<mkbfs::File>> bad = {
      {{"fifteen-bytes-x", "x"}}, {{"a/b", "x"}}, {{"", "x"}},      {{"..", "x"}},
      {{"empty", ""}},            {{"twice", "x"}, {"twice", "y"}},
  };
  for (const auto& files : bad) EXPECT_THROW(mkbfs::checkFiles(files), mkbfs::BuildError);
  EXPECT_NO_THROW(mkbfs::checkFiles({{"fourteen-bytes", "x"}}));
}

}  // namespace
