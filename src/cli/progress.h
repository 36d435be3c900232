// A progress line for long scans, shown only when standard error is a
// terminal: bytes scanned of the total, the percentage, the rate, an
// estimate of the time left, and the file systems found so far. It is
// redrawn a few times a second; the terminal takes it off before any other
// line is written, and at the end.
#ifndef BFSSCAN_PROGRESS_H
#define BFSSCAN_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

#include "scan_sink.h"
#include "terminal.h"

class Progress : public ScanSink {
 public:
  explicit Progress(Terminal& terminal);

  void image(const ImageEvent& e) override;  // the total is known: drawn at 0
  // Called between pieces of the scan (at most 512 KiB apart, or at each
  // file system); redraws when enough time has passed.
  void progress(int64_t pos, uint64_t found) override {
    if (enabled_ && (++calls_ & 15) == 0) maybeDraw(pos, found);
  }
  // While a compressed image is decoded: the input read so far of its total.
  void decoding(uint64_t consumed, uint64_t total) override;
  void end(const EndEvent& e) override;

 private:
  void maybeDraw(int64_t pos, uint64_t found);
  void draw(int64_t pos, uint64_t found);

  Terminal& terminal_;
  bool enabled_ = false;
  int64_t total_ = 0;
  uint32_t calls_ = 0;
  bool decodingShown_ = false;  // the decoding of this image is being shown
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point last_;
};

// The text of the progress line after seconds of scanning, without the
// terminal controls: "bfsscan: 1.2 GiB of 4.0 GiB (30%), 45.6 MiB/s,
// 1 min 02 s left, 3 file systems". The rate and the time left appear once
// a second has passed and something was scanned.
std::string formatProgress(int64_t pos, int64_t total, double seconds, unsigned found);

#endif  // BFSSCAN_PROGRESS_H
