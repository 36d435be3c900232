// The events of decoded records: the stage that decodes a record (the
// block scan, the inode table, the root directory) sends its event with
// these, then acts on a violated check. The records themselves never emit.
#ifndef BFSSCAN_RECORD_EVENTS_H
#define BFSSCAN_RECORD_EVENTS_H

#include <cstdint>

#include "scan_sink.h"
#include "sys/fs/bfs.h"

// The fields of an inode in host order, as far as they were decoded.
bfsscan::Inode inodeFields(const bfsDirent& d, bfsDirent::Stage stage = bfsDirent::kDecoded);

// Tests the block read at image offset s for the magic, sends the hit to
// sink and checks it: true when accepted as a file system. Throws
// InconsistentFileSystem after sending the hit.
bool detectAndReport(const char* block, int64_t s, ScanSink& sink);

// Decodes the slot raw (slot number slot of the file system at fs), sends
// its inode event to sink, as far as it was decoded, and throws
// InconsistentFileSystem when a check failed.
bfsDirent decodeAndReport(const char* raw, int64_t fs, uint32_t slot, ScanSink& sink);

// Decodes a directory entry and sends it to sink when it is in use.
bfsLDirs decodeAndReportEntry(const char* raw, int64_t fs, ScanSink& sink);

// A sink that drops every event.
class NullSink : public ScanSink {};

#endif  // BFSSCAN_RECORD_EVENTS_H
