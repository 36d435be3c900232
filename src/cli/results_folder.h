// A results file (--json, --bodyfile, --map, --dfxml) may lie inside the
// folder of -C, which the scan would only make once it begins extracting:
// the folder is made first, so that the file can be created.
#ifndef BFSSCAN_RESULTS_FOLDER_H
#define BFSSCAN_RESULTS_FOLDER_H

#include "options.h"

// Makes options.directory (one level, as extraction does) when a results
// file names a path inside it. A failure is left for the file's own
// creation, or the extraction, to report.
void makeFolderForResults(const ScanOptions& options);

// Whether path lies inside folder, by their names alone.
bool isInsideFolder(const std::string& path, const std::string& folder);

#endif  // BFSSCAN_RESULTS_FOLDER_H
