// The command line of bfsmount: bfsmount [OPTIONS] IMAGE MOUNTPOINT.
#ifndef BFSSCAN_MOUNT_OPTIONS_H
#define BFSSCAN_MOUNT_OPTIONS_H

#include <string>
#include <vector>

struct MountOptions {
  std::string image;
  std::string mountPoint;
  std::string format = "auto";
  bool foreground = false;
  bool direct = false;  // reads bypass the mount's page cache
  bool deleted = false;      // --deleted: STEM-OFFSET/.bfsscan-deleted, as extraction
  bool unallocated = false;  // --unallocated: STEM-OFFSET/.bfsscan-unallocated
  std::vector<std::string> fuseOptions;  // each as given to -o
};

enum class MountCommand { kMount, kHelp, kVersion, kUsageError };

extern const char* const kMountUsageText;

// On a usage error, error holds the line (with its newline) to print.
MountCommand parseMountCommandLine(int argc, char** argv, MountOptions* options,
                                   std::string* error);

// The value of the last max_read=N among the -o options (FUSE options
// given later win), or fallback when none gives one.
unsigned maxReadOption(const std::vector<std::string>& fuseOptions, unsigned fallback);

#endif  // BFSSCAN_MOUNT_OPTIONS_H
