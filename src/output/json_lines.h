// The whole scan as JSON Lines: one object per event, "type" first, each
// line written at once. Names and paths are given as JSON strings (bytes
// that are not UTF-8 as U+FFFD) and exactly as hex; modes are octal strings.
// A dry run's end record counts files and bytes listed, not written.
#ifndef BFSSCAN_JSON_LINES_H
#define BFSSCAN_JSON_LINES_H

#include <functional>
#include <memory>
#include <string>

#include "results_file.h"
#include "scan_sink.h"

class JsonLinesSink : public ScanSink {
 public:
  // version: the program's version, given in the image record.
  JsonLinesSink(std::unique_ptr<ResultsFile> out, std::string version);
  // Hands each record, as one line of JSON without the newline, to lines
  // instead of writing a file.
  using LineConsumer = std::function<void(const std::string&)>;
  JsonLinesSink(LineConsumer lines, std::string version);
  void image(const ImageEvent& e) override;
  void hit(const HitEvent& e) override;
  void fileSystem(const FileSystemEvent& e) override;
  void inode(const InodeEvent& e) override;
  void dirent(const DirentEvent& e) override;
  void file(const FileEvent& e) override;
  void problem(const ProblemEvent& e) override;
  void dataArea(const DataAreaEvent& e) override;
  void unallocated(const UnallocatedEvent& e) override;
  void deleted(const DeletedEvent& e) override;
  void deletedName(const DeletedNameEvent& e) override;
  void end(const EndEvent& e) override;
  void orphan(const OrphanEvent& e) override;
  bool lostOutput() const override { return out_->file && out_->file->lost(); }
  // The command line, for the image record; none by default.
  void setCommandLine(std::string commandLine) { commandLine_ = std::move(commandLine); }

  // Where the lines go: a results file (when there is one) through consumer.
  struct Lines {
    std::unique_ptr<ResultsFile> file;
    LineConsumer consumer;
  };

 private:
  std::unique_ptr<Lines> out_;
  std::string version_;
  std::string commandLine_;
  bool storedDigest_ = false;  // the image's container stores a digest of it
};

#endif  // BFSSCAN_JSON_LINES_H
