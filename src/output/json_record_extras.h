// The fields the JSON Lines records carry for the record of a run: where
// the image came from (image record), how the run ended and what it found
// of deleted files and free space (end record), and what holds a nested
// file system (fs record). Kept apart from the records' first fields, which
// never change.
#ifndef BFSSCAN_JSON_RECORD_EXTRAS_H
#define BFSSCAN_JSON_RECORD_EXTRAS_H

#include <string>

#include <nlohmann/json.hpp>

#include "scan_sink.h"

// name, chain, stored_size, stored digests, acquisition, started,
// command_line: those that are known.
void addImageProvenance(nlohmann::ordered_json& j, const ImageEvent& e,
                        const std::string& commandLine);

// The counts of --deleted and --unallocated, the media's digests, whether
// the set verified (storedDigest: the image had one), the end time.
void addRunRecord(nlohmann::ordered_json& j, const EndEvent& e, bool storedDigest);

// "parent": the file system, slot and path of the file holding it; absent
// for a file system found in the image itself.
void addParent(nlohmann::ordered_json& j, const FileSystemEvent& e);

#endif  // BFSSCAN_JSON_RECORD_EXTRAS_H
