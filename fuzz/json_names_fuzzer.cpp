// Fuzzing target: names and paths in the JSON Lines file. The input gives
// an image path, a directory entry's name and a file's extraction
// directory and name; the records written are parsed back with a JSON
// parser: a name that is valid UTF-8 comes back as itself, any other as
// valid UTF-8, and its hex form always gives the input bytes back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.h"
#include "json_lines.h"
#include "name_input.h"

namespace {

bool validUtf8(const std::string& s) {
  try {
    (void)nlohmann::json(s).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

// The name a record carries for the bytes raw.
bool carries(const std::string& carried, const std::string& raw) {
  return validUtf8(raw) ? carried == raw : validUtf8(carried);
}

}  // namespace

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
  const nlohmann::json image = nlohmann::json::parse(lines[0]);
  FUZZ_CHECK(carries(image.at("path").get<std::string>(), path));
  FUZZ_CHECK(fromHex(image.at("path_hex").get<std::string>()) == path);
  for (size_t i : {1, 2}) {
    const nlohmann::json record = nlohmann::json::parse(lines[i]);
    FUZZ_CHECK(carries(record.at("name").get<std::string>(), in.name));
    FUZZ_CHECK(fromHex(record.at("name_hex").get<std::string>()) == in.name);
  }
  const nlohmann::json fileRecord = nlohmann::json::parse(lines[2]);
  if (in.name.empty()) {
    FUZZ_CHECK(fileRecord.at("path").is_null());
  } else {
    FUZZ_CHECK(carries(fileRecord.at("path").get<std::string>(), in.dir + "/" + in.name));
    FUZZ_CHECK(fromHex(fileRecord.at("path_hex").get<std::string>()) == in.dir + "/" + in.name);
  }
  FUZZ_CHECK(nlohmann::json::parse(lines[3]).at("type") == "end");
  return 0;
}
