// The map of a scan (--map=FILE): a standalone SVG picture of the image as
// a band with a byte scale, each file system found as a lane of its own at
// its own scale (superblock, inode table, root directory, every file),
// nested file systems under the file that holds them, colours by outcome,
// the marks of damage, and a legend. Every item carries a <title>.
//
// This sink gathers what it needs as the events come (map_model.h,
// bounded), lays it out (map_layout.h), draws it (map_drawing.h) and
// writes the file at the end of the run, however the run ends, under a
// temporary name beside FILE that is then renamed into place, so that a
// half-written map never passes for one. FILE "-" is standard output; a
// FILE that is a symbolic link, a device or a pipe is written through.
// open() makes the temporary file before the scan, so that a map that
// cannot be written is known before any work is done. A map that cannot be
// written at the end is one line on standard error and lostOutput().
#ifndef BFSSCAN_SVG_MAP_H
#define BFSSCAN_SVG_MAP_H

#include <string>

#include "map_model.h"
#include "console.h"
#include "document_file.h"
#include "scan_sink.h"

class MapSink : public ScanSink {
 public:
  // image: the image to be scanned, never to be replaced by the map (may be
  // empty). A map that cannot be written at the end is said on console's
  // error stream (standard error when null).
  explicit MapSink(const std::string& path, const std::string& image = "",
                   Console* console = nullptr);
  MapSink(const MapSink&) = delete;
  MapSink& operator=(const MapSink&) = delete;

  // Makes the temporary file; throws OutputFailure ("cannot write "F": REASON"),
  // also when FILE is the image.
  void open() { file_.open(); }

  void start(const std::string& path) override { model_.start(path); }
  void image(const ImageEvent& e) override { model_.image(e); }
  void hit(const HitEvent& e) override { model_.hit(e); }
  void fileSystem(const FileSystemEvent& e) override { model_.fileSystem(e); }
  void inode(const InodeEvent& e) override { model_.inode(e); }
  void directory(const DirectoryEvent& e) override { model_.directory(e); }
  void file(const FileEvent& e) override { model_.file(e); }
  void problem(const ProblemEvent& e) override { model_.problem(e); }
  void unallocated(const UnallocatedEvent& e) override { model_.unallocated(e); }
  void end(const EndEvent& e) override;
  void orphan(const OrphanEvent& e) override { model_.orphan(e); }
  bool lostOutput() const override { return lost_; }

 private:
  Console* console_;
  DocumentFile file_;  // removes its temporary file if the map was not written
  bool lost_ = false;
  bool written_ = false;
  std::string firstPath_;  // the map of the first image; later ones are numbered
  unsigned member_ = 1;
  MapModel model_;
};

// The map of the member-th image when a run has several: path with
// ".member" before its extension ("map.svg", 2: "map.2.svg").
std::string memberMapPath(const std::string& path, unsigned member);
// The first name memberMapPath gives from *member up that is free (no file,
// link or anything else there); *member becomes its number.
std::string freeMemberMapPath(const std::string& path, unsigned* member);

#endif  // BFSSCAN_SVG_MAP_H
