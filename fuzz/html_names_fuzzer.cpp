// Fuzzing target: names, paths and problem texts in the HTML report. The
// input gives an image path (all of it), an extraction directory and a file
// name (name_input.h); they go through the sink as the image, a file, a
// deleted name, a deleted candidate's and a free run's paths, and problems.
// The page is written twice: once with the input, once with every byte of
// it replaced by 'a'. Read back by a small HTML reader (tags of letters and digits,
// attribute values quoted, no raw '<' in text or values, every '&' one of
// the five entities, valid UTF-8; style and script taken whole), the two
// pages have the same elements and attributes in the same order, so no
// element or attribute was made from a name; and the name's cell and the
// heading, with entities and then \\ \n \r \t \xHH undone, give the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "html_report.h"
#include "name_input.h"
#include "xml_chars.h"

namespace {

struct Page {
  std::vector<std::string> structure;  // "<tag attr attr" and "</tag", in order
  std::vector<std::string> raw;        // the contents of style and script elements
  std::string nameCell;                // the text of the first name cell
  std::string heading;                 // the text of h1
};

bool nameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == ':';
}

std::string tagName(const std::string& doc, size_t& i) {
  const size_t at = i;
  while (i < doc.size() && nameChar(doc[i])) ++i;
  FUZZ_CHECK(i > at);
  return doc.substr(at, i - at);
}

Page readPage(const std::string& doc) {
  const std::string doctype = "<!DOCTYPE html>\n";
  FUZZ_CHECK(doc.compare(0, doctype.size(), doctype) == 0);
  Page page;
  std::string element, text;  // the element whose text is being read
  size_t i = doctype.size();
  while (i < doc.size()) {
    if (doc[i] != '<') {
      text += decodeXmlText(doc, i, "<", "");
      continue;
    }
    ++i;
    if (doc[i] == '/') {
      ++i;
      const std::string name = tagName(doc, i);
      FUZZ_CHECK(i < doc.size() && doc[i] == '>');
      ++i;
      page.structure.push_back("</" + name);
      if (name == element && element == "td" && page.nameCell.empty()) page.nameCell = text + "|";
      if (name == element && element == "h1") page.heading = text;
      element.clear();
      continue;
    }
    const std::string name = tagName(doc, i);
    std::string tag = "<" + name;
    bool nameCell = false;
    while (i < doc.size() && doc[i] == ' ') {
      ++i;
      const std::string attribute = tagName(doc, i);
      FUZZ_CHECK(doc.compare(i, 2, "=\"") == 0);
      i += 2;
      const std::string value = decodeXmlText(doc, i, "\"", "<");
      FUZZ_CHECK(i < doc.size());
      ++i;
      tag += " " + attribute;
      if (attribute == "class" && value == "r-name") nameCell = true;
    }
    if (doc.compare(i, 2, "/>") == 0) {
      i += 2;
      tag += "/";
    } else {
      FUZZ_CHECK(i < doc.size() && doc[i] == '>');
      ++i;
    }
    page.structure.push_back(tag);
    if (name == "style" || name == "script") {
      const size_t end = doc.find("</" + name + ">", i);
      FUZZ_CHECK(end != std::string::npos);
      page.raw.push_back(doc.substr(i, end - i));
      i = end;
    }
    if ((nameCell && page.nameCell.empty()) || name == "h1") {
      element = name;
      text.clear();
    }
  }
  return page;
}

std::string writePage(const NameInput& in, const std::string& path) {
  ResultsInMemory file;
  {
    HtmlReportSetup setup;
    setup.hashes = {"md5"};
    HtmlReportSink sink(file.path(), setup);
    sink.open();
    sink.start(path);
    sink.image({path, 1024, "raw"});
    FileSystemEvent fs;
    fs.base = 512;
    fs.end = 1023;
    sink.fileSystem(fs);
    FileEvent f;
    f.fs = 512;
    f.slot = 3;
    f.dir = in.dir;
    f.name = in.name;
    f.status = FileEvent::kExtracted;
    f.digests = {{"md5", in.dir}};
    sink.file(f);
    DeletedNameEvent deletedName;
    deletedName.fs = 512;
    deletedName.name = in.name;
    sink.deletedName(deletedName);
    DeletedEvent deleted;
    deleted.fs = 512;
    deleted.path = in.dir + "/" + in.name;
    sink.deleted(deleted);
    UnallocatedEvent free;
    free.fs = 512;
    free.path = in.name;
    sink.unallocated(free);
    ProblemEvent problem;
    problem.fs = 512;
    problem.offset = 600;
    problem.text = in.name;
    sink.problem(problem);
    problem.fs = -1;
    problem.text = path;
    sink.problem(problem);
    sink.end(EndEvent());
  }
  return file.contents();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const NameInput in = splitNames(data, size);
  const std::string path(reinterpret_cast<const char*>(data), size);
  const Page page = readPage(writePage(in, path));
  const NameInput plainIn{std::string(in.dir.size(), 'a'), std::string(in.name.size(), 'a')};
  const Page plain = readPage(writePage(plainIn, std::string(path.size(), 'a')));
  FUZZ_CHECK(page.structure == plain.structure);
  FUZZ_CHECK(page.raw == plain.raw);
  FUZZ_CHECK(!page.nameCell.empty());
  FUZZ_CHECK(unescapeChecked(page.nameCell.substr(0, page.nameCell.size() - 1), true) == in.name);
  const std::string prefix = "bfsscan report: ";
  FUZZ_CHECK(page.heading.compare(0, prefix.size(), prefix) == 0);
  FUZZ_CHECK(unescapeChecked(page.heading.substr(prefix.size()), true) == path);
  return 0;
}
