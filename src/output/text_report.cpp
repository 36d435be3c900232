#include "text_report.h"

#include <boost/filesystem.hpp>
#include <ostream>
#include <sstream>

#include "escape.h"
#include "report.h"
#include "sys/fs/bfs.h"

namespace fs = boost::filesystem;

TextReport::TextReport(Console& console, const std::string& imagePath, bool withReport)
    : console_(console),
      path_(imagePath),
      withReport_(withReport),
      interactive_(console.outIsTerminal()) {}

std::string TextReport::shown(const std::string& name) const {
  return interactive_ ? escapeForDiag(name) : name;
}

void TextReport::endLine() {
  std::ostream& out = console_.out();
  out << '\n';
  if (interactive_) out.flush();
  noticeFailure();
}

void TextReport::flush() {
  console_.out().flush();
  noticeFailure();
}

void TextReport::noticeFailure() {
  if (!console_.out() && !lost_) {
    lost_ = true;
    console_.err() << "bfsscan: cannot write the report to standard output\n" << std::flush;
  }
}

void TextReport::start(const std::string& path) {
  path_ = path;  // an archive has an image per member
  if (!withReport_) return;
  console_.out() << "scanning " << path;
  endLine();
}

void TextReport::image(const ImageEvent& e) {
  if (!withReport_) return;
  console_.out() << e.length << " bytes / " << e.length / BFS_BSIZE << " sectors to read";
  endLine();
}

void TextReport::hit(const HitEvent& e) {
  if (!withReport_) return;
  std::ostream& out = console_.out();
  const uint64_t base = static_cast<uint64_t>(e.offset);
  flush();  // what came before a hit is shown before its file system is read
  out << "hit magic at " << Hex{base} << " (" << e.offset << ")";
  endLine();
  out << "Start: " << Hex{e.start} << " (" << Hex{base + e.start} << ")";
  endLine();
  out << "End: " << Hex{e.end} << " (" << Hex{base + e.end} << ")";
  endLine();
  if (e.verdict == HitEvent::kDiscarded) {
    out << "end >= start, discarded";
    endLine();
    return;
  }
  out << "size of inode: " << Hex{BFS_INODESIZE} << " (" << BFS_INODESIZE << ")";
  endLine();
  out << "position of inode 0: " << Hex{bfsDirent::bfsINO2OFF(0)};
  endLine();
  out << "position of inode 2: " << Hex{bfsDirent::bfsINO2OFF(2)};
  endLine();
  out << "position of inode 3: " << Hex{bfsDirent::bfsINO2OFF(3)};
  endLine();
  out << e.nr2;
  endLine();
  if (e.verdict == HitEvent::kCountMismatch) return;
  out << "number of inodes: " << e.nr;
  endLine();
  out << "offset after last inode: " << Hex{bfsDirent::bfsINO2OFF(static_cast<uint32_t>(e.nr))};
  endLine();
}

void TextReport::fileSystem(const FileSystemEvent& e) {
  if (!withReport_) return;
  std::ostream& out = console_.out();
  out << "Reading superblock...";
  endLine();
  out << "size of superblock: " << Hex{sizeof(bdsuper)};
  endLine();
  out << "Magic: " << Hex{e.magic};
  endLine();
  out << "Scanning inodes...";
  endLine();
}

void TextReport::inode(const InodeEvent& e) {
  if (!withReport_) return;
  std::ostream& out = console_.out();
  const bfsscan::Inode& d = e.inode;
  out << "Inode " << Hex{d.ino} << " ";
  // A slot left out (keep-going): its line ends with the condition it breaks.
  const std::string broken = e.broken.empty() ? "" : "broken: " + e.broken;
  if (e.stage == InodeEvent::kBadExtent) {
    out << broken;
    endLine();
    return;
  }
  const uint32_t first = d.firstByte();
  const uint32_t distance = d.lastByte - first;
  out << Hex{d.firstBlock} << "[" << Hex{first} << "] "
      << "- " << Hex{d.lastBlock} << "[" << Hex{d.lastBlock * BFS_BSIZE} << "] "
      << "(" << Hex{d.lastByte} << ") "
      << "size " << Hex{distance} << " (" << distance << ")";
  if (e.stage == InodeEvent::kBadType) {
    if (!broken.empty()) out << " " << broken;
    endLine();
    return;
  }
  endLine();
  out << "type " << (d.isDirectory() ? "dir" : "reg")
      << " mode " << Oct{d.mode}
      << " owner " << d.uid << "/" << d.gid
      << " links " << d.nlink;
  if (!broken.empty()) out << " " << broken;
  endLine();
}

void TextReport::dirent(const DirentEvent& e) {
  if (!withReport_) return;
  console_.out() << "directory entry for inode " << Hex{e.ino} << " '" << shown(e.name) << "'";
  endLine();
}

void TextReport::directory(const DirectoryEvent& e) {
  if (!withReport_) return;
  // Boost.Filesystem's path inserter quotes: "a&"b" for a"b.
  const fs::path dir(e.path);
  console_.out() << "writing files to directory " << dir;
  endLine();
  if (e.existed) {
    console_.out() << "had existing " << dir;
    endLine();
  }
}

void TextReport::file(const FileEvent& e) {
  if (!withReport_ || e.status != FileEvent::kPending) return;
  fs::path fpath(e.dir);
  fpath /= e.name;
  copyingLine(fpath.string(), e.first, e.inode.lastByte, e.length);
}

void TextReport::copyingLine(const std::string& path, uint32_t first, uint32_t lastByte,
                             uint64_t length) {
  const uint32_t distance = lastByte - first;
  std::ostringstream quoted;
  quoted << fs::path(path);  // Boost.Filesystem's quoting
  console_.out() << "copying " << shown(quoted.str()) << " " << Hex{first} << "-"
                 << Hex{lastByte} << " " << distance;
  endLine();
  if (length >= kLargeFile) flush();  // shown before a long copy
}

void TextReport::orphan(const OrphanEvent& e) {
  if (!withReport_ || e.status != FileEvent::kPending) return;
  copyingLine(e.path, e.first, e.inode.lastByte, e.length);
}

void TextReport::problem(const ProblemEvent& e) {
  if (withReport_) flush();  // the report stays in step with the problems
  console_.err() << e.text + '\n' << std::flush;  // one write a line
}

void TextReport::end(const EndEvent& e) {
  if (!withReport_) return;
  if (e.reachedEnd) {
    console_.out() << "end of " << path_;
    endLine();
  }
  flush();
}
