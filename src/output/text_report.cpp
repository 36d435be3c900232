#include "text_report.h"

#include <boost/filesystem.hpp>
#include <ostream>

#include <unistd.h>

#include "report.h"

namespace fs = boost::filesystem;

TextReport::TextReport(const std::string& imagePath, bool withReport)
    : path_(imagePath), withReport_(withReport), interactive_(::isatty(STDOUT_FILENO) == 1) {}

void TextReport::endLine() {
  std::ostream& out = report();
  out << '\n';
  if (interactive_) out.flush();
  noticeFailure();
}

void TextReport::flush() {
  report().flush();
  noticeFailure();
}

void TextReport::noticeFailure() {
  if (!report() && !lost_) {
    lost_ = true;
    diag() << "bfsscan: cannot write the report to standard output\n" << std::flush;
  }
}

void TextReport::start(const std::string& path) {
  path_ = path;  // an archive has an image per member
  if (!withReport_) return;
  report() << "scanning " << path;
  endLine();
}

void TextReport::image(const ImageEvent& e) {
  if (!withReport_) return;
  report() << e.length << " bytes / " << e.length / BFS_BSIZE << " sectors to read";
  endLine();
}

void TextReport::hit(const HitEvent& e) {
  if (!withReport_) return;
  std::ostream& out = report();
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
  std::ostream& out = report();
  out << "Reading superblock...";
  endLine();
  out << "size of superblock: " << Hex{sizeof(bdsuper)};
  endLine();
  out << "Magic: " << Hex{e.superblock->bdsup_bfsmagic};
  endLine();
  out << "Scanning inodes...";
  endLine();
}

void TextReport::inode(const InodeEvent& e) {
  if (!withReport_) return;
  std::ostream& out = report();
  const bfsDirent& d = *e.inode;
  out << "Inode " << Hex{d.d_ino} << " ";
  if (e.stage == InodeEvent::kBadExtent) {
    endLine();
    return;
  }
  const uint32_t first = d.d_sblock * BFS_BSIZE;
  const uint32_t distance = d.d_eoffset - first;
  out << Hex{d.d_sblock} << "[" << Hex{first} << "] "
      << "- " << Hex{d.d_eblock} << "[" << Hex{d.d_eblock * BFS_BSIZE} << "] "
      << "(" << Hex{d.d_eoffset} << ") "
      << "size " << Hex{distance} << " (" << distance << ")";
  endLine();
  if (e.stage == InodeEvent::kBadType) return;
  out << "type " << (d.d_fattr.va_type == BFS_VDIR ? "dir" : "reg")
      << " mode " << Oct{d.d_fattr.va_mode}
      << " owner " << d.d_fattr.va_uid << "/" << d.d_fattr.va_gid
      << " links " << d.d_fattr.va_nlink;
  endLine();
}

void TextReport::dirent(const DirentEvent& e) {
  if (!withReport_) return;
  report() << "directory entry for inode " << Hex{e.entry->l_ino} << " '" << e.entry->toString()
           << "'";
  endLine();
}

void TextReport::directory(const DirectoryEvent& e) {
  if (!withReport_) return;
  // Boost.Filesystem's path inserter quotes: "a&"b" for a"b.
  const fs::path dir(e.path);
  report() << "writing files to directory " << dir;
  endLine();
  if (e.existed) {
    report() << "had existing " << dir;
    endLine();
  }
}

void TextReport::file(const FileEvent& e) {
  if (!withReport_ || e.status != FileEvent::kPending) return;
  fs::path fpath(e.dir);
  fpath /= e.name;
  const uint32_t distance = e.inode->d_eoffset - e.first;
  report() << "copying " << fpath << " " << Hex{e.first} << "-" << Hex{e.inode->d_eoffset} << " "
           << distance;
  endLine();
  if (e.length >= kLargeFile) flush();  // shown before a long copy
}

void TextReport::problem(const ProblemEvent& e) {
  if (withReport_) flush();  // the report stays in step with the problems
  diag() << e.text + '\n' << std::flush;  // one write a line
}

void TextReport::end(const EndEvent& e) {
  if (!withReport_) return;
  if (e.reachedEnd) {
    report() << "end of " << path_;
    endLine();
  }
  flush();
}
