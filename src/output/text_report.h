// The text report: the fixed line formats on standard output, and one line
// per problem on standard error. A report that can no longer be written
// (standard output closed) is noticed once; the run goes on. Lines are
// flushed one by one on a terminal; elsewhere before each hit, before a long
// copy, before every problem and at the end, so that standard output and
// standard error keep their order in one file. On a terminal, names from
// the image are shown escaped as on standard error, so that their bytes
// cannot control the terminal; elsewhere they are written as stored.
#ifndef BFSSCAN_TEXT_REPORT_H
#define BFSSCAN_TEXT_REPORT_H

#include <string>

#include "console.h"
#include "scan_sink.h"

class TextReport : public ScanSink {
 public:
  // Writes to console's streams. Problems only, no report lines, when
  // withReport is false (standard output taken by another result).
  TextReport(Console& console, const std::string& imagePath, bool withReport = true);

  void start(const std::string& path) override;
  void image(const ImageEvent& e) override;
  void hit(const HitEvent& e) override;
  void fileSystem(const FileSystemEvent& e) override;
  void inode(const InodeEvent& e) override;
  void dirent(const DirentEvent& e) override;
  void directory(const DirectoryEvent& e) override;
  void file(const FileEvent& e) override;
  void problem(const ProblemEvent& e) override;
  void end(const EndEvent& e) override;
  bool lostOutput() const override { return lost_; }
  void orphan(const OrphanEvent& e) override;

 private:
  // Ends a report line and notices, once, that it could not be written.
  void endLine();
  void flush();
  void noticeFailure();
  // name as written to the report: escaped on a terminal.
  std::string shown(const std::string& name) const;
  // The copying line of a file (or an orphan) at path.
  void copyingLine(const std::string& path, uint32_t first, uint32_t lastByte, uint64_t length);

  static constexpr uint64_t kLargeFile = 1 << 20;

  Console& console_;
  std::string path_;
  bool withReport_;
  bool interactive_;
  bool lost_ = false;
};

#endif  // BFSSCAN_TEXT_REPORT_H
