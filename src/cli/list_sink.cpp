#include "list_sink.h"

#include "dfxml_sink.h"
#include "escape.h"
#include "sys/fs/bfs.h"

std::string lsMode(uint32_t type, uint32_t mode) {
  std::string out(1, type == BFS_VREG ? '-' : type == BFS_VDIR ? 'd' : '?');
  const char* letters = "rwx";
  for (int who = 2; who >= 0; --who) {
    const uint32_t bits = mode >> (who * 3);
    for (int k = 0; k < 3; ++k) out.push_back((bits & (4u >> k)) ? letters[k] : '-');
    // set-user-ID, set-group-ID, sticky: in the execute column
    if (mode & (01000u << who)) {
      const char special = who == 0 ? 't' : 's';
      out.back() = out.back() == 'x' ? special : static_cast<char>(special - 'a' + 'A');
    }
  }
  return out;
}

void ListSink::start(const std::string& /*path*/) {
  open_.clear();
  if (header_) return;
  header_ = true;
  console_.out() << "#fs\tinode\tmode\tuid\tgid\tlength\tmtime\tatime\tctime\tpath\n";
}

void ListSink::fileSystem(const FileSystemEvent& e) {
  // The file system holding this one: the innermost one still open.
  while (!open_.empty() && static_cast<uint64_t>(e.base) >
                               static_cast<uint64_t>(open_.back().first) + open_.back().second) {
    open_.pop_back();
  }
  std::ostream& out = console_.out();
  out << "# file system at " << e.base;
  if (!open_.empty()) out << ", inside the file system at " << open_.back().first;
  out << ": " << e.slotCount << " inode slots\n";
  open_.emplace_back(e.base, e.end);
}

void ListSink::row(int64_t fs, const std::string& inode, uint32_t type, const bfsscan::Inode& a,
                   uint64_t length, const std::string& path) {
  console_.out() << fs << '\t' << inode << '\t' << lsMode(type, a.mode) << '\t' << a.uid << '\t'
                 << a.gid << '\t' << length << '\t' << isoTime(a.mtime) << '\t' << isoTime(a.atime)
                 << '\t' << isoTime(a.ctime) << '\t' << (path == "-" ? path : escapeForDiag(path))
                 << '\n';
}

void ListSink::file(const FileEvent& e) {
  if (e.status == FileEvent::kPending || e.status == FileEvent::kDirectory) return;
  // A file extraction leaves out (no entry names it, or unsafely) has no path: "-".
  row(e.fs, std::to_string(e.slot), e.inode.type, e.inode, e.length,
      e.status == FileEvent::kSkipped ? "-" : e.dir + "/" + e.name);
}

void ListSink::deleted(const DeletedEvent& e) {
  bfsscan::Inode a;
  a.mode = e.mode;
  a.uid = e.uid;
  a.gid = e.gid;
  a.atime = e.atime;
  a.mtime = e.mtime;
  a.ctime = e.ctime;
  row(e.fs, "slot=" + std::to_string(e.slot), BFS_VREG, a, e.length, e.path.empty() ? "-" : e.path);
}

// An orphan (keep-going): its inode, and the path extraction gives it in the
// directory of orphans, which marks it.
void ListSink::orphan(const bfsscan::OrphanEvent& e) {
  if (e.status == FileEvent::kPending) return;
  row(e.fs, std::to_string(e.inode.ino), BFS_VREG, e.inode, e.length, e.path);
}

void ListSink::end(const EndEvent& /*e*/) { flush(); }

void ListSink::flush() {
  std::ostream& out = console_.out();
  out.flush();
  if (!out) lost_ = true;
}
