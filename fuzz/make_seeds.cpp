// Writes the fuzzer's seed corpus into a folder: valid file systems, several
// in one image, nested ones, and one image for each violated condition.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "image_builder.h"

namespace {

std::string g_dir;
int g_count = 0;

mkbfs::ImageWriter& next(std::unique_ptr<mkbfs::ImageWriter>& w) {
  w.reset(new mkbfs::ImageWriter(g_dir + "/seed-" + std::to_string(++g_count) + ".img"));
  return *w;
}

std::string readBack(const mkbfs::ImageWriter& w, const std::string& path) {
  std::string data(w.length(), '\0');
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) {
    data.resize(std::fread(&data[0], 1, data.size(), f));
    std::fclose(f);
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seeds DIR\n";
    return 1;
  }
  g_dir = argv[1];
  std::unique_ptr<mkbfs::ImageWriter> w;

  // Valid file systems: one, two in one image, and one nested in a file.
  const std::vector<mkbfs::File> files = {{"a", "alpha"}, {"b", std::string(700, 'b')}};
  mkbfs::writeFileSystem(next(w), 0, files);
  mkbfs::writeFileSystem(next(w), 0, files);
  mkbfs::writeFileSystem(*w, 4096, {{"c", "c"}});
  {
    const std::string inner = g_dir + "/inner.tmp";
    mkbfs::ImageWriter in(inner);
    mkbfs::writeFileSystem(in, 0, {{"x", "nested"}});
    mkbfs::writeFileSystem(next(w), 0, {{"inner", readBack(in, inner)}, {"z", "z"}});
    std::remove(inner.c_str());
  }

  // One image per violated condition, each with a root and a file at slot 3.
  auto layout = [&](uint32_t slots) -> mkbfs::ImageWriter& {
    mkbfs::ImageWriter& i = next(w);
    i.write(0, mkbfs::superblock(388 + 62 * slots, 0x4000));
    mkbfs::Inode root = mkbfs::fileInode(2, 4, 48);
    root.type = 2;
    i.write(mkbfs::slotOffset(2), mkbfs::inodeSlot(root));
    i.write(mkbfs::slotOffset(3), mkbfs::inodeSlot(mkbfs::fileInode(3, 5, 4)));
    i.write(4 * 512, mkbfs::dirEntries({{2, "."}, {3, "f"}, {0, ""}}));
    i.write(5 * 512, "file");
    i.setLength(0x4000);
    return i;
  };
  const uint32_t starts[] = {600, 0, 0xFFFFFFFE};  // nr == nr2
  for (uint32_t start : starts) next(w).write(0, mkbfs::superblock(start, 0xFFFFFFFF));
  std::vector<mkbfs::Inode> bad(7, mkbfs::fileInode(3, 5, 4));
  bad[0].sblock = 6;         // d_sblock <= d_eblock
  bad[1].eoffset = 0x9ff;    // d_sblock * BFS_BSIZE <= d_eoffset
  bad[2].eoffset = 0xe00;    // d_eoffset within the last block
  bad[3].type = 3;           // the type
  bad[4].type = 2;           // a directory in slot 3
  bad[5].nlink = 2;          // two links
  bad[6].eoffset = 0x7fffff; // runs past the end of the image
  bad[6].eblock = 0x3fff;
  for (const mkbfs::Inode& inode : bad) layout(4).write(mkbfs::slotOffset(3), mkbfs::inodeSlot(inode));
  layout(4).write(4 * 512, mkbfs::dirEntries({{9, "beyond"}}));  // bld.l_ino < numInodes
  layout(5).write(4 * 512, mkbfs::dirEntries({{4, "unused"}}));  // slot in use
  layout(4).write(4 * 512, mkbfs::dirEntries({{3, ".."}}));      // unsafe name
  std::cout << "make_seeds: wrote " << g_count << " seeds to " << g_dir << "\n";
  return 0;
}
