// Writing the body file from the outcome of each inode in use.
#include "body_file.h"

#include "escape.h"
#include "sys/fs/bfs.h"

namespace {

// One permission triple: read, write, and execute or the special bit shown
// in its place (set-user-ID, set-group-ID: s/S; sticky: t/T).
void appendTriple(std::string& out, uint32_t bits, bool special, char specialLetter) {
  out += (bits & 4) ? 'r' : '-';
  out += (bits & 2) ? 'w' : '-';
  const bool exec = (bits & 1) != 0;
  if (special) {
    out += exec ? specialLetter : static_cast<char>(specialLetter - 'a' + 'A');
  } else {
    out += exec ? 'x' : '-';
  }
}

std::string md5Field(const FileEvent& e, bool md5) {
  if (!md5) return "0";
  for (const Digest& d : e.digests) {
    if (d.algorithm == "md5" && !d.hex.empty()) return d.hex;
  }
  return std::string(32, '0');
}

std::string bodyName(const FileEvent& e) {
  std::string name = "/" + e.dir + "/";
  if (e.status == FileEvent::kDirectory && e.slot == BFS_ROOTINO) {
    // the root directory: the extraction directory itself
  } else if (e.name.empty()) {
    name += "$OrphanFiles/OrphanFile-" + std::to_string(e.slot);
  } else {
    name += e.name;
  }
  return escapeBodyName(name);
}

// The type letter, '/', the type letter again and the permissions as ls
// shows them: "r/rrw-r--r--", "d/drwxr-xr-x".
std::string bodyModeString(uint32_t type, uint32_t mode) {
  const char letter = type == BFS_VDIR ? 'd' : type == BFS_VREG ? 'r' : '-';
  std::string out{letter, '/', letter};
  appendTriple(out, mode >> 6, (mode & 04000) != 0, 's');
  appendTriple(out, mode >> 3, (mode & 02000) != 0, 's');
  appendTriple(out, mode, (mode & 01000) != 0, 't');
  return out;
}

}  // namespace

BodyFileSink::BodyFileSink(std::unique_ptr<ResultsFile> out, bool md5)
    : out_(std::move(out)), md5_(md5) {}

void BodyFileSink::file(const FileEvent& e) {
  if (e.status == FileEvent::kPending) return;
  const bfsscan::Inode& a = e.inode;
  const std::string sep = "|";
  out_->writeLine(md5Field(e, md5_) + sep + bodyName(e) + sep + std::to_string(e.slot) + sep +
                  bodyModeString(a.type, a.mode) + sep + std::to_string(a.uid) + sep +
                  std::to_string(a.gid) + sep + std::to_string(e.length) + sep +
                  std::to_string(a.atime) + sep + std::to_string(a.mtime) + sep +
                  std::to_string(a.ctime) + sep + "0");
}

void BodyFileSink::end(const EndEvent& e) {
  if (e.lastImage) out_->close();
}
