// The output interface of a scan (the public events and sink, under the
// names the scanner's own code uses), a fan-out to several sinks, and the
// helper that sends a problem line. The text report is one sink; the body
// file, the JSON Lines file and the map are others. The stages only emit
// events, they never print.
//
// Every event method may throw OutputFailure (output_failure.h) when the sink's
// own file cannot be written; the scan then ends as for any output failure.
#ifndef BFSSCAN_SCAN_SINK_H
#define BFSSCAN_SCAN_SINK_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bfsscan/events.h"

using bfsscan::DataAreaEvent;
using bfsscan::DeletedEvent;
using bfsscan::DeletedNameEvent;
using bfsscan::Digest;
using bfsscan::DirectoryEvent;
using bfsscan::DirentEvent;
using bfsscan::EndEvent;
using bfsscan::FileEvent;
using bfsscan::FileSystemEvent;
using bfsscan::HitEvent;
using bfsscan::ImageEvent;
using bfsscan::InodeEvent;
using bfsscan::OrphanEvent;
using bfsscan::ProblemEvent;
using bfsscan::UnallocatedEvent;
using ScanSink = bfsscan::Sink;

// Sends a problem to sink: what kind, its standard-error line, and where
// (the file system, the slot of a file, an image offset) when known.
void emitProblem(ScanSink& sink, ProblemEvent::What what, const std::string& text,
                 int64_t fs = -1, int64_t slot = -1, uint64_t offset = 0);

// Hands every event to each of several sinks, in order.
class SinkList : public ScanSink {
 public:
  void add(std::unique_ptr<ScanSink> sink) { sinks_.push_back(std::move(sink)); }
  void start(const std::string& path) override;
  void image(const ImageEvent& e) override;
  void hit(const HitEvent& e) override;
  void fileSystem(const FileSystemEvent& e) override;
  void inode(const InodeEvent& e) override;
  void dirent(const DirentEvent& e) override;
  void directory(const DirectoryEvent& e) override;
  void file(const FileEvent& e) override;
  void problem(const ProblemEvent& e) override;
  void dataArea(const DataAreaEvent& e) override;
  void unallocated(const UnallocatedEvent& e) override;
  void deleted(const DeletedEvent& e) override;
  void deletedName(const DeletedNameEvent& e) override;
  void end(const EndEvent& e) override;
  void progress(int64_t position, uint64_t fileSystems) override;
  void decoding(uint64_t consumed, uint64_t total) override;
  bool lostOutput() const override;
  void orphan(const OrphanEvent& e) override;

 private:
  std::vector<std::unique_ptr<ScanSink>> sinks_;
};

#endif  // BFSSCAN_SCAN_SINK_H
