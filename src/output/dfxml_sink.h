// The scan as a DFXML document (--dfxml=FILE): the tool, the image (every
// image of an archive, one diskimageobject each, in one document), one
// volume per file system found (a nested one is a volume of its own, at its
// absolute offset), and in each volume one fileobject per inode in use, with
// its metadata, its byte run and its digests; deleted candidates are
// fileobjects with alloc 0. Free runs and slack (--unallocated) and the data
// area follow the fileobjects of their volume as elements of the program's
// own namespace (bfsscan:data_area, bfsscan:unallocated); problems are the
// error element of their volume, or bfsscan:error elements at the end.
//
// Written line by line as the scan goes (memory bounded), and closed at the
// end of the run however it ends, so that an interrupted run still leaves a
// document that validates against the DFXML schema.
#ifndef BFSSCAN_DFXML_SINK_H
#define BFSSCAN_DFXML_SINK_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "results_file.h"
#include "scan_sink.h"

class DfxmlSink : public ScanSink {
 public:
  // commandLine and startTime (ISO 8601, UTC) go into the creator element.
  DfxmlSink(std::unique_ptr<ResultsFile> out, std::string version, std::string commandLine,
            std::string startTime);
  ~DfxmlSink() override;  // closes a document that end() did not
  DfxmlSink(const DfxmlSink&) = delete;
  DfxmlSink& operator=(const DfxmlSink&) = delete;

  void start(const std::string& path) override;
  void image(const ImageEvent& e) override;
  void fileSystem(const FileSystemEvent& e) override;
  void inode(const InodeEvent& e) override;
  void file(const FileEvent& e) override;
  void problem(const ProblemEvent& e) override;
  void dataArea(const DataAreaEvent& e) override;
  void unallocated(const UnallocatedEvent& e) override;
  void deleted(const DeletedEvent& e) override;
  void deletedName(const DeletedNameEvent& e) override;
  // The stem the run was given (--name), for the source element.
  void setName(std::string name) { name_ = std::move(name); }
  void end(const EndEvent& e) override;
  void orphan(const OrphanEvent& e) override;
  bool lostOutput() const override { return out_->lost(); }

 private:
  void line(const std::string& text);
  void begin(const std::string& path);
  void closeVolume();
  // Ends the fileobjects of the volume: its error element, once.
  void startOther();
  void finish();

  static constexpr size_t kMaxErrors = 100;  // kept per volume and for the document

  std::unique_ptr<ResultsFile> out_;
  std::string version_, commandLine_, startTime_;
  bool begun_ = false, finished_ = false;
  bool volumeOpen_ = false;
  bool otherStarted_ = false;  // elements of the program's namespace written in the volume
  int64_t volumeBase_ = -1;
  std::vector<std::string> volumeErrors_, documentErrors_;
  uint64_t moreVolumeErrors_ = 0, moreDocumentErrors_ = 0;
  std::string name_;
  bool storedDigest_ = false;      // the image's container stores a digest of it
  std::optional<EndEvent> ended_;  // the end event, for the run's close
};

// Seconds since 1970 as ISO 8601 in UTC: "2001-09-09T01:46:40Z".
std::string isoTime(int64_t seconds);

#endif  // BFSSCAN_DFXML_SINK_H
