// The options of mkbfs that give files a mode, an owner, a group and times:
// each applies to every file, or, as NAME=VALUE, to the file NAME only (a
// file's own value wins over the one for every file).
#ifndef MKBFS_ATTRIBUTE_OPTIONS_H
#define MKBFS_ATTRIBUTE_OPTIONS_H

#include <cstdint>
#include <map>
#include <string>

#include "image_builder.h"

namespace mkbfs {

// Seconds since 1970 from a decimal count or an ISO 8601 UTC time
// (YYYY-MM-DDTHH:MM:SSZ, or YYYY-MM-DD for midnight); false when it is
// neither or falls outside 0 to 2^32 - 1.
bool parseTime(const std::string& text, uint32_t* seconds);

class AttributeOptions {
 public:
  // Takes --mode, --uid, --gid, --atime, --mtime, --ctime or --time (all
  // three times) with its value; false for any other option. Throws
  // BuildError for a value that is no mode, id or time.
  bool take(const std::string& option, const std::string& value);
  // What the options give the file name.
  Attributes forFile(const std::string& name) const;
  // Throws BuildError when a per-file value names none of files.
  void checkNames(const std::vector<File>& files) const;

 private:
  Attributes every_;
  std::map<std::string, Attributes> byName_;
};

}  // namespace mkbfs

#endif  // MKBFS_ATTRIBUTE_OPTIONS_H
