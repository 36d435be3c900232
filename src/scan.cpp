#include "scan.h"

#include <cstring>
#include <ostream>

#include "block_reader.h"
#include "consistency.h"
#include "extract.h"
#include "image.h"
#include "inode_table.h"
#include "progress.h"
#include "report.h"
#include "root_directory.h"
#include "sys/fs/bfs.h"

namespace {

// Reports, checks and extracts the file system whose superblock is block,
// read at base. Sets skipped when a file had to be left out.
void processFileSystem(const Image& image, const std::string& f, const char* block,
                       int64_t base, bool& skipped) {
  report() << "Reading superblock..." << std::endl;
  const bfsSuperBlock bsb(block, base);
  report() << "size of superblock: " << Hex{sizeof(bdsuper)} << std::endl;
  report() << "Magic: " << Hex{bsb.bdsup_bfsmagic} << std::endl;

  const InodeTable bfsInodes = InodeTable::load(image, base, bsb);

  NameTable fnames;
  const bfsDirent* root = bfsInodes.find(BFS_ROOTINO);
  if (root == nullptr) {
    diag() << "bfsscan: file system at " << base << " has no root directory" << std::endl;
  } else {
    try {
      fnames = readRootDirectory(image, base, *root, bfsInodes);
    } catch (ReadFailure& failure) {
      failure.setItem("root directory");
      throw;
    }
  }

  extractFiles(image, f, base, bfsInodes, fnames, skipped);
}

}  // namespace

ExitStatus do_scan(const std::string& f) {
  report() << "scanning " << f << std::endl;
  ExitStatus status = kExitSuccess;
  bool skipped = false;
  int64_t s = 0;            // the block being examined
  bool processing = false;  // whether the file system at s is being processed
  int64_t length = 0;
  try {
    const std::unique_ptr<Image> opened = openImage(f, ImageFormat::kAuto);
    const Image& image = *opened;
    length = image.length();
    report() << length << " bytes / " << length / BFS_BSIZE << " sectors to read"
             << std::endl;
    BlockReader blocks(image);
    Progress progress(length);
    unsigned found = 0;
    for (;; s += BFS_BSIZE) {
      progress.update(s, found);
      const char* block = blocks.block(s);
      if (detect_bfs(block, s)) {
        ++found;
        processing = true;
        processFileSystem(image, f, block, s, skipped);
        processing = false;
      }
    }
  } catch (const ReadFailure& failure) {
    if (failure.kind() == ReadFailure::kEndOfImage) {
      report() << "end of " << f << std::endl;
      if (processing) {
        diag() << "bfsscan: file system at " << s << " is truncated: "
               << failure.item() << " runs past the end of the image (" << length
               << " bytes)" << std::endl;
        status = kExitIncomplete;
      }
    } else {
      diag() << "error reading " << f << ": " << failure.description() << std::endl;
      status = kExitIncomplete;
    }
  } catch (const OutputFailure& failure) {
    diag() << "bfsscan: " << failure.what() << std::endl;
    status = kExitIncomplete;
  } catch (InconsistentFileSystem& violation) {
    violation.setBase(s);
    throw;
  }
  if (skipped) status = kExitIncomplete;
  return status;
}
