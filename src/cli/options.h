// The command line: options in GNU getopt_long style and exactly one image
// operand. What the options ask for is gathered in ScanOptions; nothing
// here acts on them.
#ifndef BFSSCAN_OPTIONS_H
#define BFSSCAN_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "image.h"
#include "inode_target.h"

struct ScanOptions {
  std::string image;
  std::string directory;   // -C: where extraction directories go; empty: here
  bool dryRun = false;     // -n: read and report everything, write nothing
  bool keepGoing = false;  // -k: damage does not end the scan
  bool preserve = false;   // -p: modes, times (and owners as root) from the inodes
  ImageFormat format = ImageFormat::kAuto;
  std::string streamFormat;  // --format naming a compression or archive format
  bool maxOutputGiven = false;  // --max-output: otherwise 16 times the image, at least 1 GiB
  uint64_t maxOutput = 0;       // bytes; 0 for no limit
  uint64_t maxImage = 16ull << 40;  // --max-image: decompressed length of an image; 0: none
  std::string bodyFile;    // --bodyfile; "-" for standard output
  std::string jsonFile;    // --json
  std::string mapFile;     // --map
  std::string dfxmlFile;   // --dfxml
  bool unallocated = false;  // --unallocated: free runs and slack
  bool deleted = false;      // --deleted: deleted names and candidates
  std::vector<std::string> hashes;  // --hash: md5, sha1, sha256
  bool list = false;  // --list: one line per file, no file's bytes read, nothing written
  bool cat = false;   // --cat=FS:INODE: one file's bytes to standard output
  bool stat = false;  // --stat=FS:INODE: one inode's details
  InodeTarget target;  // of --cat or --stat
  bool offsetGiven = false;  // --offset=N: only the file system at N
  int64_t offset = 0;
  bool maxImageGiven = false;  // --max-image given: otherwise a bound in proportion to the input
  std::string name;  // --name: the stem of the outputs instead of the image's file name
  std::string htmlFile;    // --html
  std::string sqliteFile;  // --sqlite: the case database the image is added to
};

enum class Command { kScan, kHelp, kVersion, kUsageError };

// Parses argv. On kUsageError, error holds the text for standard error
// (without a final newline where the usage line has none).
Command parseCommandLine(int argc, char** argv, ScanOptions* options, std::string* error);

// "16M" and the like: a whole number with an optional K, M, G or T (powers
// of 1024). False when it is not one or does not fit in 64 bits.
bool parseSize(const std::string& text, uint64_t* bytes);

extern const char kUsageText[];

#endif  // BFSSCAN_OPTIONS_H
