// The names of compressed streams and archives, as the record of a run
// gives them ("gzip", "xz", "zip", "tar", ...), told by their first bytes.
#ifndef BFSSCAN_STREAM_NAMES_H
#define BFSSCAN_STREAM_NAMES_H

#include <string>

// The compression whose signature head starts with; "compressed" when it is
// none that is known by name.
std::string compressionName(const std::string& head);

// The archive format whose signature head holds; "archive" when unknown.
std::string archiveName(const std::string& head);

#endif  // BFSSCAN_STREAM_NAMES_H
