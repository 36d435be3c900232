// Writes the bytes of one file of a BFS file system to standard output,
// reading only that file system's superblock, the file's inode slot and its
// bytes:  cat_file IMAGE OFFSET INODE
// (OFFSET: the file system's byte offset in the image, as a scan reports it.)
// Build: c++ -std=c++17 cat_file.cpp $(pkg-config --cflags --libs bfsscan)
#include <bfsscan/bfsscan.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: cat_file IMAGE OFFSET INODE\n";
    return 1;
  }
  try {
    const std::unique_ptr<bfsscan::Image> image = bfsscan::Image::open(argv[1]);
    const auto fs = bfsscan::FileSystem::open(*image, std::strtoll(argv[2], nullptr, 0));
    const bfsscan::FileInfo file =
        fs->file(static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0)));
    // Piece by piece: a file of any size needs no more memory than a piece.
    fs->read(file, [](const char* piece, size_t n) { std::fwrite(piece, 1, n, stdout); });
  } catch (const bfsscan::FileError& e) {  // this file, or no file system there
    std::cerr << "cat_file: " << e.what() << '\n';
    return 2;
  } catch (const bfsscan::ImageError& e) {
    std::cerr << "cat_file: error reading " << argv[1] << ": " << e.what() << '\n';
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 2;
}
