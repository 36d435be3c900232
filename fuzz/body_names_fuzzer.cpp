// Fuzzing target: names in the body file. The input gives an extraction
// directory, a file name and (in the top bits of its first byte) the
// file's outcome; the line written must split on '|' into the eleven
// fields of the format, in printable ASCII, and its name field must give
// back the path of the file, or of its orphan entry when no name is known.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "body_file.h"
#include "fuzz_check.h"
#include "name_input.h"
#include "sys/fs/bfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const NameInput in = splitNames(data, size);
  static const FileEvent::Status kStatus[] = {
      FileEvent::kExtracted, FileEvent::kListed,    FileEvent::kSkipped,   FileEvent::kFailed,
      FileEvent::kDirectory, FileEvent::kDirectory, FileEvent::kExtracted, FileEvent::kFailed};
  static const uint32_t kSlot[] = {3, 3, 3, 3, 2, 3, 70000, 65535};
  const unsigned pick = size > 0 ? data[0] >> 5 : 0;
  FileEvent e;
  e.fs = 512;
  e.slot = kSlot[pick];
  e.dir = in.dir;
  e.name = in.name;
  e.status = kStatus[pick];
  e.inode.type = e.status == FileEvent::kDirectory ? BFS_VDIR : BFS_VREG;
  e.inode.mode = size > 1 ? data[1] * 0x41u : 0;
  ResultsInMemory file;
  {
    BodyFileSink sink(std::make_unique<ResultsFile>(file.path()), false);
    sink.file(e);
    sink.end(EndEvent());
  }
  const std::vector<std::string> lines = splitLines(file.contents());
  FUZZ_CHECK(lines.size() == 1 && printableAscii(lines[0]));
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t bar; (bar = lines[0].find('|', from)) != std::string::npos; from = bar + 1) {
    fields.push_back(lines[0].substr(from, bar - from));
  }
  fields.push_back(lines[0].substr(from));
  FUZZ_CHECK(fields.size() == 11);
  std::string expected = "/" + in.dir + "/";
  if (e.status == FileEvent::kDirectory && e.slot == BFS_ROOTINO) {
    // the extraction directory itself
  } else if (in.name.empty()) {
    expected += "$OrphanFiles/OrphanFile-" + std::to_string(e.slot);
  } else {
    expected += in.name;
  }
  FUZZ_CHECK(unescapeChecked(fields[1], false) == expected);
  FUZZ_CHECK(fields[1].find('%') == std::string::npos);  // mactime would decode it
  FUZZ_CHECK(fields[0] == "0" && fields[2] == std::to_string(e.slot) && fields[3].size() == 12);
  return 0;
}
