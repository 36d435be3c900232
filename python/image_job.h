// One image of a batch, scanned as the command scans it, into a folder of
// its own: the report (report.txt) and the problem lines (problems.txt) as
// the command prints them, the JSON Lines records (records.jsonl), the
// extraction directories, and the DFXML document and the map where asked.
// The records are also handed back, for the case database.
#ifndef BFSSCAN_IMAGE_JOB_H
#define BFSSCAN_IMAGE_JOB_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bfsscan/stop_token.h"

struct ImageJob {
  std::string image;          // the path, as the manifest gives it
  std::string format = "auto";  // as --format: a container, a compression or an archive
  std::string folder;         // made by the caller; everything goes in it
  std::string stemOf;         // names the extraction directories (its stem)
  bool dryRun = false;
  bool keepGoing = false;
  bool preserve = false;
  bool unallocated = false;
  bool deleted = false;
  std::vector<std::string> hashes;
  std::optional<uint64_t> maxOutput;
  bool dfxml = false;  // folder/records.dfxml
  bool map = false;    // folder/map.svg
};

struct ImageJobResult {
  int status = 0;       // the command's exit status for the image
  std::string records;  // JSON Lines, each line ending in a newline
};

// Whether name is a --format the command takes.
bool knownFormat(const std::string& name);

// Throws std::invalid_argument for an unknown format or hash name.
ImageJobResult runImageJob(const ImageJob& job, const bfsscan::StopToken* stop);

#endif  // BFSSCAN_IMAGE_JOB_H
