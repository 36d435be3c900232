#include "stat_lines.h"

#include <sstream>

#include "dfxml_sink.h"
#include "escape.h"
#include "list_sink.h"

namespace {

std::string octal(uint32_t v) {
  std::ostringstream s;
  s << (v == 0 ? "" : "0") << std::oct << v;
  return s.str();
}

std::string typeName(const SlotRecord& r) {
  if (r.stage != bfsDirent::kDecoded) return "unknown (not decoded)";
  if (r.inode.type == BFS_VREG) return "regular";
  if (r.inode.type == BFS_VDIR) return "directory";
  return std::to_string(r.inode.type);
}

}  // namespace

std::string statLines(int64_t base, const SlotRecord& r, const std::vector<std::string>& names) {
  const bfsscan::Inode& a = r.inode;
  std::ostringstream out;
  auto line = [&](const char* key, const std::string& value) {
    out << key << ": " << value << '\n';
  };
  auto time = [&](const char* key, uint32_t t) {
    line(key, isoTime(t) + " (" + std::to_string(t) + ")");
  };
  line("file system", std::to_string(base));
  line("slot", std::to_string(r.slot));
  line("inode", std::to_string(a.ino));
  std::string state = "in use";
  if (r.state == SlotRecord::kDeleted) {
    state = "deleted candidate";
  } else if (names.empty() && a.type != BFS_VDIR) {
    state = "orphan (in use, no directory entry names it)";
  }
  line("state", state);
  line("type", typeName(r));
  line("mode", octal(a.mode) + " (" + lsMode(a.type, a.mode) + ")");
  line("links", std::to_string(a.nlink));
  line("uid", std::to_string(a.uid));
  line("gid", std::to_string(a.gid));
  line("length", std::to_string(r.length));
  line("first block", std::to_string(a.firstBlock));
  line("last block", std::to_string(a.lastBlock));
  line("first image offset", std::to_string(r.imageOffset));
  line("last image offset", std::to_string(r.imageOffset + r.length - (r.length > 0)));
  time("mtime", a.mtime);
  time("atime", a.atime);
  time("ctime", a.ctime);
  if (names.empty()) line("entry", "none");
  for (const std::string& name : names) line("entry", escapeForDiag(name));
  if (r.broken.empty()) line("broken", "none");
  for (const std::string& condition : r.broken) line("broken", condition);
  return out.str();
}
