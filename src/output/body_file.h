// The body file: one line per inode in use, in the form The Sleuth Kit's
// mactime reads to build a timeline:
//   MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime
// Each line is written as soon as its file's outcome is known. With
// --deleted, deleted candidates and deleted names follow their file system's
// files, their names ending in " (deleted)".
#ifndef BFSSCAN_BODY_FILE_H
#define BFSSCAN_BODY_FILE_H

#include <memory>
#include <string>

#include "results_file.h"
#include "scan_sink.h"

class BodyFileSink : public ScanSink {
 public:
  // md5: whether md5 digests were asked for; without them the MD5 field is 0.
  BodyFileSink(std::unique_ptr<ResultsFile> out, bool md5);
  void file(const FileEvent& e) override;
  // --deleted: a line per candidate and per deleted name (body_file.cpp).
  void deleted(const DeletedEvent& e) override;
  void deletedName(const DeletedNameEvent& e) override;
  void end(const EndEvent& e) override;
  void orphan(const OrphanEvent& e) override;
  bool lostOutput() const override { return out_->lost(); }

 private:
  std::unique_ptr<ResultsFile> out_;
  bool md5_;
};

#endif  // BFSSCAN_BODY_FILE_H
