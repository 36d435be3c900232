// The scan of an image: every 512-byte block is tested for a superblock,
// and every file system found is reported, checked and extracted.
#ifndef BFSSCAN_SCAN_H
#define BFSSCAN_SCAN_H

#include <string>

#include "exit_status.h"

// Scans the image at path f. Returns kExitSuccess when the scan reached the
// end of the image with everything extracted, kExitIncomplete when the image
// could not be read, was truncated, or something could not be extracted.
// A violated consistency condition leaves as InconsistentFileSystem.
ExitStatus do_scan(const std::string& f);

#endif  // BFSSCAN_SCAN_H
