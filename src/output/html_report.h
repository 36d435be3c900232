// The report of a scan as one self-contained HTML page (--html=FILE): the
// image's provenance and the run's status in words, the map (inline SVG),
// a section per file system (offset, nesting, inodes, a table of its files
// and of what --deleted and --unallocated found, its problems) and the
// problems of the whole run. Nothing outside the page is referred to but
// the extracted files, by links relative to the page's folder. Names from
// the image are text, never markup (html_text.h).
//
// The tables are spooled to an unnamed temporary file as the events come
// (memory bounded; the page grows with the records), and the page is put
// together at the end of the run, however it ends, through a temporary name
// renamed into place (document_file.h). A run of several images writes a
// page per image, numbered as the maps are (report.2.html).
#ifndef BFSSCAN_HTML_REPORT_H
#define BFSSCAN_HTML_REPORT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "console.h"
#include "document_file.h"
#include "map_model.h"
#include "scan_sink.h"

struct HtmlReportSetup {
  std::string image;       // the image to be scanned, never to be replaced (may be empty)
  std::string directory;   // where extraction directories go; empty: the working directory
  bool dryRun = false;     // nothing is written: no links
  std::vector<std::string> hashes;  // the digests asked for, a column each
  std::string version;
  std::string commandLine;
  std::string startTime;  // ISO 8601, UTC
};

// The kinds of rows of a file table: an inode in use with a name, a deleted
// candidate or name, an inode in use that no name leads to, a free run,
// slack, an inode whose checks failed.
enum class HtmlRowKind { kFile, kDeleted, kOrphan, kFree, kSlack, kDamaged };

class HtmlReportSink : public ScanSink {
 public:
  HtmlReportSink(const std::string& path, HtmlReportSetup setup, Console* console = nullptr);
  ~HtmlReportSink() override;
  HtmlReportSink(const HtmlReportSink&) = delete;
  HtmlReportSink& operator=(const HtmlReportSink&) = delete;

  // Makes the temporary files; throws OutputFailure when one cannot be made.
  void open();

  void start(const std::string& path) override;
  void image(const ImageEvent& e) override;
  void hit(const HitEvent& e) override { model_.hit(e); }
  void fileSystem(const FileSystemEvent& e) override;
  void inode(const InodeEvent& e) override;
  void directory(const DirectoryEvent& e) override { model_.directory(e); }
  void file(const FileEvent& e) override;
  void problem(const ProblemEvent& e) override;
  void unallocated(const UnallocatedEvent& e) override;
  void deleted(const DeletedEvent& e) override;
  void deletedName(const DeletedNameEvent& e) override;
  void orphan(const OrphanEvent& e) override;
  void end(const EndEvent& e) override;
  bool lostOutput() const override { return lost_; }

  // The key/value rows of the provenance table, in order.
  using Rows = std::vector<std::pair<std::string, std::string>>;

 private:
  struct Row;
  void put(const std::string& html);
  void openSection(const FileSystemEvent& e);
  void closeSection();
  void putRow(const Row& row);
  static Row inodeRow(const bfsscan::Inode& a, uint64_t length, FileEvent::Status status,
                      const std::vector<Digest>& digests);
  std::string link(const std::string& relative) const;
  void writePage(std::FILE* f, const EndEvent& e);
  void reset();

  static constexpr size_t kMaxSectionProblems = 100;

  DocumentFile file_;
  HtmlReportSetup setup_;
  Console* console_;
  std::string pageDir_;  // absolute, the folder of the page
  std::string extractDir_;  // absolute
  std::string firstPath_;
  unsigned member_ = 1;
  bool lost_ = false;

  // Per image.
  MapModel model_;
  std::string imagePath_;
  Rows provenance_;
  std::FILE* sections_ = nullptr;  // the file-system sections, as written
  std::FILE* problems_ = nullptr;  // the rows of the run's problem table
  uint64_t problemCount_ = 0;
  uint64_t fileSystems_ = 0;
  bool sectionOpen_ = false;
  int64_t sectionBase_ = -1;
  uint64_t sectionRows_ = 0;
  std::vector<std::string> sectionProblems_;  // HTML list items
  uint64_t moreSectionProblems_ = 0;
};

#endif  // BFSSCAN_HTML_REPORT_H
