// The text of --stat: one "key: value" line per detail of an inode slot.
#ifndef BFSSCAN_STAT_LINES_H
#define BFSSCAN_STAT_LINES_H

#include <string>
#include <vector>

#include "one_file_system.h"

// r's details in the file system at base; names are the root-directory
// entries naming it (escaped here as on standard error).
std::string statLines(int64_t base, const SlotRecord& r, const std::vector<std::string>& names);

#endif  // BFSSCAN_STAT_LINES_H
