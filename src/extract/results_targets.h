// The files the results go to (--bodyfile, --json, --map), located before
// any of them is made, and the checks that keep them apart: from each other
// under any spelling, from every file the image is stored in, and from the
// paths extraction writes. A file that exists is known by its device and
// inode; one still to be made by its resolved directory and its name.
#ifndef BFSSCAN_RESULTS_TARGETS_H
#define BFSSCAN_RESULTS_TARGETS_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "image.h"

struct ResultsTarget {
  std::string option;  // "--json"
  std::string path;    // as given
  bool exists = false;  // the file is there (links followed): dev, ino
  dev_t dev = 0;
  ino_t ino = 0;
  bool placed = false;  // its directory is there: dirDev, dirIno, name
  dev_t dirDev = 0;
  ino_t dirIno = 0;
  std::string name;  // the last component
  bool standardOutput = false;  // "-", or a name of the file standard output is
};

class ResultsTargets {
 public:
  // Locates path, the file of option; "" (not asked for) is left out. "-"
  // is standard output, and so is any other name of the file it is
  // (/dev/stdout, /proc/self/fd/1, the file it was sent to): all count as
  // one file.
  void add(const std::string& option, const std::string& path);
  // Whether path, given to add, names standard output (to be written as "-").
  bool isStandardOutput(const std::string& path) const;

  // The text of a usage error when two options name one file, else "".
  std::string clashAmongThem() const;
  // The text of a usage error when another results file has a name the
  // map of a later image of the run would take: the --map FILE with a number
  // of 2 or more before its extension (map.svg: map.2.svg), in its
  // directory; else "". For a run of several images (an archive).
  std::string clashWithMemberMaps() const;
  // The text of a usage error when a results file is a file of the image
  // (image may be null when it could not be opened: then imagePath itself
  // is compared; for "-", standard input, unless it is a socket), else "".
  std::string clashWithImage(const Image* image, const std::string& imagePath) const;
  // The results file that is at name in the directory (dirDev, dirIno), or
  // whose file is the one found there (fileKnown: fileDev, fileIno); null
  // when none is.
  const ResultsTarget* at(dev_t dirDev, ino_t dirIno, const std::string& name, bool fileKnown,
                          dev_t fileDev, ino_t fileIno) const;

 private:
  std::vector<ResultsTarget> targets_;
};

#endif  // BFSSCAN_RESULTS_TARGETS_H
