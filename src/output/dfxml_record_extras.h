// The parts of the DFXML document for the record of a run, kept apart from
// the document's frame: the image's provenance (an element of the program's
// namespace at the head of the diskimageobject), the file that holds a
// nested volume (attributes of the volume), deleted names (fileobjects with
// alloc 0 and no inode), digests of free space and slack, and the run's
// close (bfsscan:runstats, after the volumes).
#ifndef BFSSCAN_DFXML_RECORD_EXTRAS_H
#define BFSSCAN_DFXML_RECORD_EXTRAS_H

#include <string>
#include <vector>

#include "scan_sink.h"

// <bfsscan:image .../> with the chain, sizes, stored digests and the
// acquisition details; empty when nothing is known.
std::string dfxmlImageProvenance(const ImageEvent& e);

// " bfsscan:parent_fs=... bfsscan:parent_inode=... bfsscan:parent_filename=..."
// for a nested volume; empty for one found in the image itself.
std::string dfxmlParentAttributes(const FileSystemEvent& e);

// The fileobject of a deleted name, on one line.
std::string dfxmlDeletedName(const DeletedNameEvent& e);

// <hashdigest> elements of the digests that were made.
std::string dfxmlDigests(const std::vector<Digest>& digests);

// <bfsscan:runstats .../> of the end of the run.
std::string dfxmlRunStats(const EndEvent& e, bool storedDigest);

#endif  // BFSSCAN_DFXML_RECORD_EXTRAS_H
