// The files of the file systems met so far that may still hold another
// file system: a file system whose superblock lies inside a file is nested
// in it. The scan moves forward, so a file that ends before the block being
// examined can hold nothing more and is forgotten: memory follows the files
// that overlap the scan's position, not all files met, and at most
// kMaxFiles of them are kept (a hostile inode table may hold hundreds of
// thousands of files over one extent): past that, a nested file system may
// be reported without its holder.
#ifndef BFSSCAN_FILE_HOLDERS_H
#define BFSSCAN_FILE_HOLDERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FileHolder {
  int64_t fs = -1;  // the file system the file belongs to
  uint32_t slot = 0;
  uint64_t imageOffset = 0;
  uint64_t length = 0;
  std::string path;  // as extracted ("disk-0/nested.img"); empty when it has no name
};

class FileHolders {
 public:
  static constexpr size_t kMaxFiles = size_t{1} << 16;

  void add(const FileHolder& holder);
  // The innermost (shortest) file that holds the image offset base, or null;
  // files that end at or before base are forgotten first.
  const FileHolder* holderOf(int64_t base);

 private:
  std::vector<FileHolder> files_;
};

#endif  // BFSSCAN_FILE_HOLDERS_H
