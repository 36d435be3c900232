// Fuzzing target: names, paths and problem texts in the DFXML document.
// The input gives an image path (all of it), an extraction directory and a
// file name (name_input.h); they go through the sink as the image, the root
// directory, a file, a deleted candidate, a free run's file and problems of
// the volume (before and after its fileobjects) and of the document. The
// document is read back with a small XML reader: tags balanced, attribute
// values quoted, no raw '<' in text or values, every '&' one of the five
// entities, valid UTF-8 of XML characters; the texts, with entities and
// then \\ and \xHH undone, are the input's bytes in the order written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dfxml_sink.h"
#include "fuzz_check.h"
#include "xml_chars.h"
#include "name_input.h"

namespace {

// Character data up to (not including) one of stops: checked, entities undone.
std::string charData(const std::string& doc, size_t& i, const char* stops) {
  return decodeXmlText(doc, i, stops, "<");
}

bool nameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == ':' || c == '-' || c == '.';
}

std::string xmlName(const std::string& doc, size_t& i) {
  const size_t at = i;
  while (i < doc.size() && nameChar(doc[i])) ++i;
  FUZZ_CHECK(i > at);
  return doc.substr(at, i - at);
}

// Reads the document after its declaration; returns, in document order,
// the texts of the elements named in texts and the values of the
// attributes named filename.
std::vector<std::string> readDocument(const std::string& doc,
                                      const std::vector<std::string>& texts) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  FUZZ_CHECK(doc.compare(0, decl.size(), decl) == 0);
  std::vector<std::string> open, found, inside;
  bool rootSeen = false;
  size_t i = decl.size();
  while (i < doc.size()) {
    if (doc[i] != '<') {
      const std::string text = charData(doc, i, "<");
      if (open.empty()) {
        FUZZ_CHECK(text.find_first_not_of(" \n") == std::string::npos);
      } else {
        inside.back() += text;
      }
      continue;
    }
    ++i;
    if (i < doc.size() && doc[i] == '/') {
      ++i;
      const std::string name = xmlName(doc, i);
      FUZZ_CHECK(!open.empty() && open.back() == name);
      FUZZ_CHECK(i < doc.size() && doc[i] == '>');
      ++i;
      for (const std::string& t : texts) {
        if (name == t) found.push_back(inside.back());
      }
      open.pop_back();
      inside.pop_back();
      continue;
    }
    const std::string name = xmlName(doc, i);
    FUZZ_CHECK(!open.empty() || !rootSeen);
    rootSeen = true;
    for (;;) {
      FUZZ_CHECK(i < doc.size());
      if (doc[i] == '>' || doc[i] == '/') break;
      FUZZ_CHECK(doc[i] == ' ');
      ++i;
      const std::string attribute = xmlName(doc, i);
      FUZZ_CHECK(doc.compare(i, 2, "=\"") == 0);
      i += 2;
      const std::string value = charData(doc, i, "\"");
      FUZZ_CHECK(i < doc.size());
      ++i;
      if (attribute == "filename") found.push_back(value);
    }
    if (doc[i] == '/') {
      FUZZ_CHECK(doc.compare(i, 2, "/>") == 0);
      i += 2;
    } else {
      ++i;
      open.push_back(name);
      inside.emplace_back();
    }
  }
  FUZZ_CHECK(rootSeen && open.empty());
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const NameInput in = splitNames(data, size);
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string joined = in.dir + "/" + in.name;
  ResultsInMemory file;
  {
    DfxmlSink sink(std::make_unique<ResultsFile>(file.path()), in.name, in.dir, "");
    sink.image({path, 1024, "raw"});
    FileSystemEvent fs;
    fs.base = 512;
    fs.end = 1023;
    sink.fileSystem(fs);
    ProblemEvent early;
    early.fs = 512;
    early.text = in.name;
    sink.problem(early);
    FileEvent root;
    root.fs = 512;
    root.slot = 2;
    root.dir = in.dir;
    root.status = FileEvent::kDirectory;
    sink.file(root);
    FileEvent f = root;
    f.slot = 3;
    f.name = in.name;
    f.status = FileEvent::kExtracted;
    sink.file(f);
    DeletedEvent deleted;
    deleted.fs = 512;
    deleted.slot = 4;
    deleted.path = joined;
    sink.deleted(deleted);
    UnallocatedEvent free;
    free.fs = 512;
    free.path = in.name;
    sink.unallocated(free);
    ProblemEvent late = early;
    late.text = in.dir;
    sink.problem(late);
    ProblemEvent other;
    other.fs = -1;
    other.text = path;
    sink.problem(other);
    sink.end(EndEvent());
  }
  const std::vector<std::string> found =
      readDocument(file.contents(), {"version", "command_line", "image_filename", "filename",
                                     "error", "bfsscan:error"});
  // In document order; the volume's error element is left out when its
  // one text is empty, a free run's filename attribute when it is.
  std::vector<std::string> expected = {in.name, in.dir, path, in.dir};
  if (!in.name.empty()) expected.push_back(joined);
  expected.push_back(joined);  // the deleted candidate
  if (!in.name.empty()) expected.insert(expected.end(), {in.name, in.name});
  expected.push_back(in.dir);
  expected.push_back(path);
  FUZZ_CHECK(found.size() == expected.size());
  for (size_t j = 0; j < expected.size(); ++j) {
    FUZZ_CHECK(unescapeChecked(found[j], true) == expected[j]);
  }
  return 0;
}
