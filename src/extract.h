// Extraction of one file system: its directory in the working directory,
// named after the image and the file system's offset, and a byte-for-byte
// copy of every regular file in it under its directory name. Nothing is
// ever written outside that directory, through a symbolic link, or over the
// image itself.
#ifndef BFSSCAN_EXTRACT_H
#define BFSSCAN_EXTRACT_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "image.h"
#include "inode_table.h"
#include "output_failure.h"
#include "root_directory.h"


// Whether a name from a directory entry names a file inside a directory.
bool isSafeName(const std::string& name);

// Creates the extraction directory and copies the files of the file system
// at base into it, in slot order. Files that cannot be given a safe name are
// reported on standard error and left out, and skipped is set. Throws
// OutputFailure, ReadFailure.
void extractFiles(const Image& image, const std::string& imagePath, int64_t base,
                  const InodeTable& inodes, const NameTable& names, bool& skipped);

#endif  // BFSSCAN_EXTRACT_H
