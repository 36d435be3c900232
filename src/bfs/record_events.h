// Where the record classes send what they decode: the sink of the running
// scan, and the place being decoded (the file system and the inode slot),
// which the stage that decodes them sets. Without a scan the records go to
// the text report.
#ifndef BFSSCAN_RECORD_EVENTS_H
#define BFSSCAN_RECORD_EVENTS_H

#include <cstdint>

#include "scan_sink.h"

struct RecordPlace {
  int64_t fs = 0;     // base of the file system being decoded
  uint32_t slot = 0;  // slot of the inode being decoded
};

ScanSink& recordSink();
RecordPlace& recordPlace();

// Sends the records decoded during its lifetime to sink.
class RecordSinkScope {
 public:
  explicit RecordSinkScope(ScanSink& sink);
  ~RecordSinkScope();
  RecordSinkScope(const RecordSinkScope&) = delete;
  RecordSinkScope& operator=(const RecordSinkScope&) = delete;

 private:
  ScanSink* previous_;
};

// A sink that drops every event: records decoded a second time, silently.
class NullSink : public ScanSink {};

#endif  // BFSSCAN_RECORD_EVENTS_H
