// Writing the HTML report: file-system sections and problem rows spooled as
// the events come, the page put together at the end of the run.
#include "html_report.h"

#include <boost/filesystem.hpp>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "dfxml_sink.h"
#include "html_assets.h"
#include "html_text.h"
#include "human_units.h"
#include "map_drawing.h"
#include "map_layout.h"
#include "output_failure.h"
#include "svg_map.h"
#include "svg_writer.h"
#include "sys/fs/bfs.h"

namespace fs = boost::filesystem;

namespace {

std::string num(uint64_t v) { return std::to_string(v); }

std::string hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

std::string offsetText(uint64_t v) { return num(v) + " (" + hex(v) + ")"; }

std::string cell(const std::string& html, const char* cls = nullptr) {
  return cls ? std::string("<td class=\"") + cls + "\">" + html + "</td>" : "<td>" + html + "</td>";
}

// "-rw-r--r--", with the set-user-ID, set-group-ID and sticky bits as ls shows them.
std::string modeText(uint32_t mode, bool directory) {
  std::string s = directory ? "d" : "-";
  const char* rwx = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) s += (mode & (0400u >> i)) ? rwx[i] : '-';
  if (mode & 04000) s[3] = (mode & 0100) ? 's' : 'S';
  if (mode & 02000) s[6] = (mode & 0010) ? 's' : 'S';
  if (mode & 01000) s[9] = (mode & 0001) ? 't' : 'T';
  char octal[16];
  std::snprintf(octal, sizeof octal, " (%o)", mode);
  return s + octal;
}

std::string timeText(uint32_t seconds) {
  std::string t = isoTime(seconds);  // 2001-09-09T01:46:40Z
  if (t.size() == 20) t = t.substr(0, 10) + " " + t.substr(11, 8);
  return t;
}

std::string statusMeaning(int status, bool dryRun) {
  switch (status) {
    case 0:
      return dryRun ? "complete: the whole image was read and everything found was listed"
                    : "complete: the whole image was read and everything found was extracted";
    case 2: return "incomplete: something could not be read or extracted (see the problems)";
    case 3: return "inconsistent: a file system broke a consistency condition; the run stopped there";
    default:
      if (status > 128) {
        return "interrupted: a stop request ended the run; this page shows what was found until then";
      }
      return "status " + num(static_cast<uint64_t>(status));
  }
}

const char* problemWord(ProblemEvent::What what) {
  switch (what) {
    case ProblemEvent::kReadError: return "read error";
    case ProblemEvent::kShrunk: return "image shrank";
    case ProblemEvent::kTruncated: return "truncated";
    case ProblemEvent::kInconsistent: return "inconsistent";
    case ProblemEvent::kNoRoot: return "no root directory";
    case ProblemEvent::kSkipped: return "not extracted";
    case ProblemEvent::kLost: return "overwritten";
    case ProblemEvent::kUnreadable: return "unreadable";
    case ProblemEvent::kOutput: return "output";
    case ProblemEvent::kPreserve: return "not preserved";
    case ProblemEvent::kBudget: return "output budget spent";
    case ProblemEvent::kInterrupted: return "interrupted";
    case ProblemEvent::kReport: return "report";
    case ProblemEvent::kSetUserIdRoot: return "set-user-ID root";
  }
  return "other";
}

const char* kindWord(HtmlRowKind kind) {
  switch (kind) {
    case HtmlRowKind::kFile: return "file";
    case HtmlRowKind::kDeleted: return "deleted";
    case HtmlRowKind::kOrphan: return "orphan";
    case HtmlRowKind::kFree: return "free";
    case HtmlRowKind::kSlack: return "slack";
    case HtmlRowKind::kDamaged: return "damaged";
  }
  return "file";
}

std::string kvTable(const HtmlReportSink::Rows& rows) {
  std::string s = "<table class=\"r-kv\">\n";
  for (const auto& r : rows) s += "<tr><th>" + r.first + "</th><td>" + r.second + "</td></tr>\n";
  return s + "</table>\n";
}

std::string absoluteDir(const std::string& path) {
  const fs::path p = fs::absolute(path.empty() ? fs::path(".") : fs::path(path));
  return p.lexically_normal().string();
}

void copyInto(std::FILE* from, std::FILE* to) {
  if (from == nullptr) return;
  std::rewind(from);
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0) std::fwrite(buffer, 1, n, to);
}

}  // namespace

// A row of a file table, its texts already HTML.
struct HtmlReportSink::Row {
  HtmlRowKind kind = HtmlRowKind::kFile;
  std::string status;  // a word
  std::string name;
  std::string inode;
  std::string length;
  std::string mode, owner, mtime, atime, ctime;
  const std::vector<Digest>* digests = nullptr;
  std::string path;  // relative to the extraction directory; empty when none
  bool written = false;
};

HtmlReportSink::HtmlReportSink(const std::string& path, HtmlReportSetup setup, Console* console)
    : file_(path, setup.image, "the HTML report"),
      setup_(std::move(setup)),
      console_(console),
      firstPath_(path) {
  const fs::path page = path == "-" ? fs::path("x") : fs::path(path);
  pageDir_ = absoluteDir(page.parent_path().string());
  extractDir_ = absoluteDir(setup_.directory);
}

HtmlReportSink::~HtmlReportSink() {
  if (sections_) std::fclose(sections_);
  if (problems_) std::fclose(problems_);
}

void HtmlReportSink::open() {
  file_.open();
  if (!sections_) sections_ = std::tmpfile();
  if (!problems_) problems_ = std::tmpfile();
  if (!sections_ || !problems_) {
    throw OutputFailure("cannot write the HTML report's temporary files: " +
                        std::string(std::strerror(errno)));
  }
}

void HtmlReportSink::put(const std::string& html) {
  if (sections_) std::fwrite(html.data(), 1, html.size(), sections_);
}

void HtmlReportSink::start(const std::string& path) {
  model_.start(path);
  if (imagePath_.empty()) imagePath_ = path;
}

void HtmlReportSink::image(const ImageEvent& e) {
  model_.image(e);
  imagePath_ = e.path;
  // One row per fact; a fact the image event gains is one more line here.
  provenance_.emplace_back("Image", htmlText(e.path));
  provenance_.emplace_back("Format", htmlText(e.format));
  provenance_.emplace_back("Size", num(static_cast<uint64_t>(e.length)) + " bytes (" +
                                       htmlText(formatBytes(static_cast<uint64_t>(e.length))) + ")");
  if (!e.name.empty()) provenance_.emplace_back("Name", htmlText(e.name));
  std::string chain;
  for (const std::string& step : e.chain) chain += (chain.empty() ? "" : ", then ") + htmlText(step);
  if (!chain.empty()) provenance_.emplace_back("Read as", chain);
  if (e.storedLength != 0) provenance_.emplace_back("Stored size", num(e.storedLength) + " bytes");
  const std::pair<const char*, const std::string*> facts[] = {
      {"Stored MD5", &e.storedMd5},       {"Stored SHA-1", &e.storedSha1},
      {"Case number", &e.caseNumber},     {"Evidence number", &e.evidenceNumber},
      {"Examiner", &e.examiner},          {"Description", &e.description},
      {"Acquired", &e.acquired}};
  for (const auto& fact : facts) {
    if (!fact.second->empty()) provenance_.emplace_back(fact.first, htmlText(*fact.second));
  }
}

void HtmlReportSink::fileSystem(const FileSystemEvent& e) {
  model_.fileSystem(e);
  closeSection();
  openSection(e);
}

void HtmlReportSink::openSection(const FileSystemEvent& e) {
  sectionOpen_ = true;
  sectionBase_ = e.base;
  sectionRows_ = 0;
  sectionProblems_.clear();
  moreSectionProblems_ = 0;
  ++fileSystems_;
  const uint64_t base = static_cast<uint64_t>(e.base);
  std::string nesting = "not known: past the map's limit of file systems";
  const auto& lanes = model_.lanes();
  for (size_t i = lanes.size(); i-- > 0;) {
    if (lanes[i].base != e.base) continue;
    const MapLane& lane = lanes[i];
    if (lane.parent < 0) {
      nesting = "at the top level of the image";
    } else {
      nesting = "level " + num(static_cast<uint64_t>(lane.depth)) + ": inside " +
                (lane.holderName.empty() ? std::string("a file")
                                         : "the file \"" + htmlText(lane.holderName) + "\"") +
                " of the file system at offset " +
                offsetText(static_cast<uint64_t>(lanes[static_cast<size_t>(lane.parent)].base));
    }
    break;
  }
  Rows rows;
  rows.emplace_back("Offset", offsetText(base));
  rows.emplace_back("Nesting", nesting);
  rows.emplace_back("Inodes", num(e.slotCount) + " slots in the inode table");
  rows.emplace_back("Data area", "bytes " + num(e.start) + " to " + num(e.end) +
                                     " of the file system (" +
                                     htmlText(formatBytes(static_cast<uint64_t>(e.end) + 1)) + ")");
  std::string s = "<section class=\"r-fs\" id=\"fs-" + num(base) + "\">\n<h3>File system at offset " +
                  offsetText(base) + "</h3>\n" + kvTable(rows);
  s += "<div class=\"r-scroll\">\n<table class=\"r-grid r-files\">\n<thead><tr><th>Kind</th><th>Status</th><th>Name</th>"
       "<th class=\"r-n\">Inode</th><th class=\"r-n\">Length</th><th>Mode</th><th>Owner</th>"
       "<th>Modified (UTC)</th><th>Accessed (UTC)</th><th>Changed (UTC)</th>";
  for (const std::string& h : setup_.hashes) s += "<th>" + htmlText(h) + "</th>";
  s += "<th>Extracted as</th></tr></thead>\n<tbody>\n";
  put(s);
}

void HtmlReportSink::closeSection() {
  if (!sectionOpen_) return;
  sectionOpen_ = false;
  std::string s = "</tbody>\n</table>\n</div>\n";
  if (sectionRows_ == 0) s += "<p class=\"r-note\">No files.</p>\n";
  s += "<h4>Problems of this file system</h4>\n";
  if (sectionProblems_.empty()) {
    s += "<p class=\"r-note\">None.</p>\n";
  } else {
    s += "<ul>\n";
    for (const std::string& p : sectionProblems_) s += p;
    if (moreSectionProblems_ > 0) {
      s += "<li>and " + num(moreSectionProblems_) + " more (see the problems of the run)</li>\n";
    }
    s += "</ul>\n";
  }
  put(s + "</section>\n");
}

std::string HtmlReportSink::link(const std::string& relative) const {
  const fs::path target = (fs::path(extractDir_) / relative).lexically_normal();
  return hrefPath(target.lexically_relative(fs::path(pageDir_)).string());
}

void HtmlReportSink::putRow(const Row& r) {
  ++sectionRows_;
  std::string s = "<tr class=\"r-" + std::string(kindWord(r.kind)) + " r-" + r.status + "\">" +
                  cell(kindWord(r.kind)) + cell(r.status) + cell(r.name, "r-name") +
                  cell(r.inode) + cell(r.length) + cell(r.mode) + cell(r.owner) + cell(r.mtime) +
                  cell(r.atime) + cell(r.ctime);
  for (const std::string& h : setup_.hashes) {
    std::string value;
    if (r.digests) {
      for (const Digest& d : *r.digests) {
        if (d.algorithm == h) value = htmlText(d.hex);
      }
    }
    s += cell(value);
  }
  std::string where;
  if (!r.path.empty()) {
    where = r.written && !setup_.dryRun
                ? "<a href=\"" + link(r.path) + "\">" + htmlText(r.path) + "</a>"
                : htmlText(r.path);
  }
  put(s + cell(where, "r-path") + "</tr>\n");
}

void HtmlReportSink::inode(const InodeEvent& e) {
  model_.inode(e);
  if (!sectionOpen_ || e.fs != sectionBase_ || e.stage == InodeEvent::kDecoded) return;
  Row r;
  r.kind = HtmlRowKind::kDamaged;
  r.status = e.stage == InodeEvent::kBadExtent ? "bad-extent" : "bad-type";
  r.inode = num(e.inode.ino);
  putRow(r);
}

// The row of an inode in use: what every kind of file shows of it.
HtmlReportSink::Row HtmlReportSink::inodeRow(const bfsscan::Inode& a, uint64_t length,
                                             FileEvent::Status status,
                                             const std::vector<Digest>& digests) {
  static const char* const kStatus[] = {"pending", "extracted", "listed", "skipped", "failed",
                                        "directory"};
  Row r;
  r.status = kStatus[status];
  r.inode = num(a.ino);
  r.length = num(length);
  r.mode = modeText(a.mode, a.isDirectory());
  r.owner = num(a.uid) + ":" + num(a.gid);
  r.mtime = timeText(a.mtime);
  r.atime = timeText(a.atime);
  r.ctime = timeText(a.ctime);
  r.digests = &digests;
  r.written = status == FileEvent::kExtracted;
  return r;
}

void HtmlReportSink::file(const FileEvent& e) {
  model_.file(e);
  if (e.status == FileEvent::kPending || e.status == FileEvent::kDirectory) return;
  if (!sectionOpen_ || e.fs != sectionBase_) return;
  Row r = inodeRow(e.inode, e.length, e.status, e.digests);
  if (e.name.empty()) r.kind = HtmlRowKind::kOrphan;  // no name leads to it
  r.name = htmlText(e.name);
  if (!e.name.empty()) r.path = e.dir + "/" + e.name;
  putRow(r);
}

void HtmlReportSink::deleted(const DeletedEvent& e) {
  if (!sectionOpen_ || e.fs != sectionBase_) return;
  Row r;
  r.kind = HtmlRowKind::kDeleted;
  r.status = e.overlapsLive ? "candidate-overlapping" : "candidate";
  r.inode = "slot " + num(e.slot);
  r.length = num(e.length);
  r.mode = modeText(e.mode, false);
  r.owner = num(e.uid) + ":" + num(e.gid);
  r.mtime = timeText(e.mtime);
  r.atime = timeText(e.atime);
  r.ctime = timeText(e.ctime);
  r.digests = &e.digests;
  r.path = e.path;
  r.written = true;
  putRow(r);
}

void HtmlReportSink::orphan(const OrphanEvent& e) {
  model_.orphan(e);
  if (e.status == FileEvent::kPending) return;
  if (!sectionOpen_ || e.fs != sectionBase_) return;
  Row r = inodeRow(e.inode, e.length, e.status, e.digests);
  r.kind = HtmlRowKind::kOrphan;
  r.path = e.path;
  putRow(r);
}

void HtmlReportSink::deletedName(const DeletedNameEvent& e) {
  if (!sectionOpen_ || e.fs != sectionBase_) return;
  Row r;
  r.kind = HtmlRowKind::kDeleted;
  r.status = "name-only";
  r.name = htmlText(e.name);
  r.inode = "entry " + num(e.entry);
  putRow(r);
}

void HtmlReportSink::unallocated(const UnallocatedEvent& e) {
  model_.unallocated(e);
  if (!sectionOpen_ || e.fs != sectionBase_) return;
  Row r;
  r.kind = e.kind == UnallocatedEvent::kFree ? HtmlRowKind::kFree : HtmlRowKind::kSlack;
  r.status = e.nonZero ? "data" : "zeros";
  r.name = "bytes at " + offsetText(e.imageOffset);
  if (e.slot >= 0) r.inode = "slot " + num(static_cast<uint64_t>(e.slot));
  r.length = num(e.length);
  r.path = e.path;
  r.written = true;
  putRow(r);
}

void HtmlReportSink::problem(const ProblemEvent& e) {
  model_.problem(e);
  const std::string text = htmlText(e.text);
  const std::string where = e.offset != 0 ? offsetText(e.offset) : "";
  if (sectionOpen_ && e.fs == sectionBase_) {
    if (sectionProblems_.size() < kMaxSectionProblems) {
      sectionProblems_.push_back("<li>" + text + (where.empty() ? "" : " (at " + where + ")") +
                                 "</li>\n");
    } else {
      ++moreSectionProblems_;
    }
  }
  ++problemCount_;
  const std::string row =
      "<tr>" + cell(problemWord(e.what)) +
      cell(e.fs >= 0 ? num(static_cast<uint64_t>(e.fs)) : "") +
      cell(e.slot >= 0 ? num(static_cast<uint64_t>(e.slot)) : "") +
      "<td data-v=\"" + (e.offset != 0 ? num(e.offset) : "") + "\">" + where + "</td>" +
      cell(text, "r-text") + "</tr>\n";
  if (problems_) std::fwrite(row.data(), 1, row.size(), problems_);
}

void HtmlReportSink::writePage(std::FILE* f, const EndEvent& e) {
  std::string s =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"generator\" content=\"bfsscan " + htmlText(setup_.version) + "\">\n"
      "<title>bfsscan report: " + htmlText(imagePath_) + "</title>\n<style>" + kHtmlStyle +
      "</style>\n</head>\n<body>\n<h1>bfsscan report: " + htmlText(imagePath_) + "</h1>\n";
  Rows rows = provenance_;
  if (rows.empty()) rows.emplace_back("Image", htmlText(imagePath_) + " (could not be opened)");
  rows.emplace_back("Program", "bfsscan " + htmlText(setup_.version));
  if (!setup_.commandLine.empty()) rows.emplace_back("Command line", htmlText(setup_.commandLine));
  if (!setup_.startTime.empty()) rows.emplace_back("Started (UTC)", htmlText(setup_.startTime));
  rows.emplace_back("Finished (UTC)", isoTime(static_cast<int64_t>(std::time(nullptr))));
  const char* statusClass = e.status == 0 ? "r-status0" : e.status == 2 ? "r-status2"
                            : e.status == 3 ? "r-status3" : "r-status-other";
  rows.emplace_back("Status", std::string("<strong class=\"") + statusClass + "\">" +
                                  num(static_cast<uint64_t>(e.status)) + "</strong>: " +
                                  htmlText(statusMeaning(e.status, e.dryRun)));
  rows.emplace_back("Read to the end", e.reachedEnd ? "yes" : "no");
  for (const bfsscan::Digest& d : e.mediaDigests) {
    rows.emplace_back("Media " + htmlText(d.algorithm) + " (as read)", htmlText(d.hex));
  }
  if (e.mediaHashesAsked && e.mediaDigests.empty()) {
    rows.emplace_back("Media digests", "not made: the media was not read whole");
  }
  if (e.verified != EndEvent::kNotChecked) {
    rows.emplace_back("Stored digest", e.verified == EndEvent::kMatches
                                           ? "verified: the media read matches it"
                                           : "<strong>NOT verified: the media read differs</strong>");
  }
  if (e.unowned || e.orphans != 0) {
    rows.emplace_back("Deleted candidates, deleted names, orphans",
                      num(e.deletedCandidates) + ", " + num(e.deletedNames) + ", " +
                          num(e.orphans));
  }
  rows.emplace_back("File systems", num(e.fileSystems));
  rows.emplace_back(e.dryRun ? "Files listed (dry run)" : "Files extracted", num(e.filesExtracted));
  rows.emplace_back("Files not extracted", num(e.filesSkipped));
  rows.emplace_back("Files overwritten", num(e.filesLost));
  rows.emplace_back(e.dryRun ? "Bytes that would be written" : "Bytes written",
                    num(e.bytesWritten) + " (" + htmlText(formatBytes(e.bytesWritten)) + ")");
  rows.emplace_back("Problems", num(problemCount_));
  s += "<h2 id=\"image\">Image and run</h2>\n" + kvTable(rows);
  StringSvgWriter svg;
  drawMap(svg, model_, layOutMap(model_));
  std::string map = svg.str();
  const size_t declaration = map.compare(0, 5, "<?xml") == 0 ? map.find('\n') : std::string::npos;
  if (declaration != std::string::npos) map.erase(0, declaration + 1);
  s += "<h2 id=\"map\">Map</h2>\n<div class=\"r-map\">\n" + map + "</div>\n";
  s += "<h2 id=\"file-systems\">File systems</h2>\n<p>" + num(fileSystems_) +
       (fileSystems_ == 1 ? " file system" : " file systems") +
       " found. Rows: <em>file</em>, an inode in use; <em>deleted</em>, a deleted name, or a "
       "deleted candidate (an unused inode that still describes a file; its blocks may have "
       "been reused); "
       "<em>orphan</em>, a file no name leads to; <em>free</em> and <em>slack</em>, bytes no "
       "file owns that hold data; <em>damaged</em>, an inode whose checks failed. Times are "
       "UTC; links open the extracted files when this page sits beside the extraction "
       "directories.</p>\n";
  std::fwrite(s.data(), 1, s.size(), f);
  copyInto(sections_, f);
  s = "<h2 id=\"problems\">Problems of the run</h2>\n";
  if (problemCount_ == 0) {
    s += "<p class=\"r-note\">None.</p>\n";
  } else {
    s += "<div class=\"r-scroll\">\n<table class=\"r-grid r-problems\">\n<thead><tr><th>What</th><th class=\"r-n\">File "
         "system</th><th class=\"r-n\">Inode slot</th><th class=\"r-n\">Image offset</th>"
         "<th>Text</th></tr></thead>\n<tbody>\n";
  }
  std::fwrite(s.data(), 1, s.size(), f);
  if (problemCount_ > 0) {
    copyInto(problems_, f);
    std::fputs("</tbody>\n</table>\n</div>\n", f);
  }
  s = std::string("<script>") + kHtmlScript + "</script>\n</body>\n</html>\n";
  std::fwrite(s.data(), 1, s.size(), f);
}

void HtmlReportSink::end(const EndEvent& e) {
  model_.end(e);
  closeSection();
  try {
    if (!sections_ || !problems_ || std::fflush(sections_) != 0 || std::ferror(sections_) ||
        std::fflush(problems_) != 0 || std::ferror(problems_)) {
      throw OutputFailure("cannot write the HTML report's temporary files");
    }
    file_.write([&](std::FILE* f) {
      writePage(f, e);
      if (std::ferror(sections_) || std::ferror(problems_)) {
        throw OutputFailure("cannot read the HTML report's temporary files");
      }
    });
  } catch (const OutputFailure& failure) {
    lost_ = true;
    (console_ != nullptr ? console_->err() : std::cerr) << "bfsscan: " << failure.what() << std::endl;
  }
  if (!e.lastImage) {
    // Another image follows (the next member of an archive): a page of its own.
    ++member_;
    reset();
    // A name that is taken already (a file this run did not make) is passed
    // over for the next free number, as for the maps.
    if (file_.path() != "-") file_.setPath(freeMemberMapPath(firstPath_, &member_));
  }
}

void HtmlReportSink::reset() {
  model_ = MapModel();
  imagePath_.clear();
  provenance_.clear();
  for (std::FILE** spool : {&sections_, &problems_}) {
    if (*spool) std::fclose(*spool);
    *spool = std::tmpfile();
  }
  problemCount_ = 0;
  fileSystems_ = 0;
  sectionOpen_ = false;
  sectionBase_ = -1;
}
