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

std::string md5Field(const std::vector<Digest>& digests, bool md5) {
  if (!md5) return "0";
  for (const Digest& d : digests) {
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

// One line: MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime.
std::string bodyLine(const std::string& md5, const std::string& name, uint32_t slot,
                     const bfsscan::Inode& a, uint64_t length) {
  const std::string sep = "|";
  return md5 + sep + name + sep + std::to_string(slot) + sep + bodyModeString(a.type, a.mode) +
         sep + std::to_string(a.uid) + sep + std::to_string(a.gid) + sep +
         std::to_string(length) + sep + std::to_string(a.atime) + sep + std::to_string(a.mtime) +
         sep + std::to_string(a.ctime) + sep + "0";
}

}  // namespace

BodyFileSink::BodyFileSink(std::unique_ptr<ResultsFile> out, bool md5)
    : out_(std::move(out)), md5_(md5) {}

void BodyFileSink::file(const FileEvent& e) {
  if (e.status == FileEvent::kPending) return;
  out_->writeLine(bodyLine(md5Field(e.digests, md5_), bodyName(e), e.slot, e.inode, e.length));
}

// A deleted candidate: the path of its copy (where it would be), " (deleted)",
// and the times its slot still carries, as timeline tools show deletions.
void BodyFileSink::deleted(const DeletedEvent& e) {
  const std::string path =
      e.path.empty() ? e.dir + "/.bfsscan-deleted/slot-" + std::to_string(e.slot) : e.path;
  const std::string sep = "|";
  out_->writeLine(md5Field(e.digests, md5_) + sep + escapeBodyName("/" + path) + " (deleted)" +
                  sep + std::to_string(e.slot) + sep + bodyModeString(BFS_VREG, e.mode) + sep +
                  std::to_string(e.uid) + sep + std::to_string(e.gid) + sep +
                  std::to_string(e.length) + sep + std::to_string(e.atime) + sep +
                  std::to_string(e.mtime) + sep + std::to_string(e.ctime) + sep + "0");
}

// A deleted name: the name, " (deleted)", no inode and no times.
void BodyFileSink::deletedName(const DeletedNameEvent& e) {
  out_->writeLine("0|" + escapeBodyName("/" + e.dir + "/" + e.name) +
                  " (deleted)|0|-/----------|0|0|0|0|0|0|0");
}

void BodyFileSink::end(const EndEvent& e) {
  if (e.lastImage) out_->close();
}

// An orphan is named by where it was copied: STEM-OFFSET/.bfsscan-orphans/ino-N.
void BodyFileSink::orphan(const OrphanEvent& e) {
  if (e.status == FileEvent::kPending) return;
  out_->writeLine(bodyLine(md5Field(e.digests, md5_), escapeBodyName("/" + e.path), e.slot,
                           e.inode, e.length));
}
