// Fuzzing target: names and paths in the JSON Lines file. The input gives
// an image path, a directory entry's name and a file's extraction
// directory and name; the records written are parsed back with a JSON
// parser, and each escaped name and its hex form must give the input bytes
// back, in lines of printable ASCII.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.h"
#include "json_lines.h"
#include "name_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const NameInput in = splitNames(data, size);
  const std::string path(reinterpret_cast<const char*>(data), size);
  ResultsInMemory file;
  {
    JsonLinesSink sink(std::make_unique<ResultsFile>(file.path()), "0");
    sink.image({path, 1024, "raw"});
    sink.dirent({512, 3, in.name});
    FileEvent e;
    e.fs = 512;
    e.slot = 3;
    e.dir = in.dir;
    e.name = in.name;
    e.status = FileEvent::kExtracted;
    sink.file(e);
    sink.end(EndEvent());
  }
  const std::vector<std::string> lines = splitLines(file.contents());
  FUZZ_CHECK(lines.size() == 4);
  for (const std::string& line : lines) FUZZ_CHECK(printableAscii(line));
  const nlohmann::json image = nlohmann::json::parse(lines[0]);
  FUZZ_CHECK(unescapeChecked(image.at("path").get<std::string>(), false) == path);
  FUZZ_CHECK(fromHex(image.at("path_hex").get<std::string>()) == path);
  for (size_t i : {1, 2}) {
    const nlohmann::json record = nlohmann::json::parse(lines[i]);
    FUZZ_CHECK(unescapeChecked(record.at("name").get<std::string>(), false) == in.name);
    FUZZ_CHECK(fromHex(record.at("name_hex").get<std::string>()) == in.name);
  }
  const nlohmann::json fileRecord = nlohmann::json::parse(lines[2]);
  if (in.name.empty()) {
    FUZZ_CHECK(fileRecord.at("path").is_null());
  } else {
    FUZZ_CHECK(unescapeChecked(fileRecord.at("path").get<std::string>(), false) ==
               in.dir + "/" + in.name);
  }
  FUZZ_CHECK(nlohmann::json::parse(lines[3]).at("type") == "end");
  return 0;
}
