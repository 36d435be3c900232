// The whole scan as JSON Lines: one object per event, "type" first, each
// line written at once. Names and paths are given as JSON strings (bytes
// that are not UTF-8 as U+FFFD) and exactly as hex; modes are octal strings.
// A dry run's end record counts files and bytes listed, not written.
#ifndef BFSSCAN_JSON_LINES_H
#define BFSSCAN_JSON_LINES_H

#include <memory>
#include <string>

#include "results_file.h"
#include "scan_sink.h"

class JsonLinesSink : public ScanSink {
 public:
  // version: the program's version, given in the image record.
  JsonLinesSink(std::unique_ptr<ResultsFile> out, std::string version);
  void image(const ImageEvent& e) override;
  void hit(const HitEvent& e) override;
  void fileSystem(const FileSystemEvent& e) override;
  void inode(const InodeEvent& e) override;
  void dirent(const DirentEvent& e) override;
  void file(const FileEvent& e) override;
  void problem(const ProblemEvent& e) override;
  void end(const EndEvent& e) override;
  bool lostOutput() const override { return out_->lost(); }

 private:
  std::unique_ptr<ResultsFile> out_;
  std::string version_;
};

#endif  // BFSSCAN_JSON_LINES_H
