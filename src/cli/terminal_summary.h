// The closing line on a terminal: when standard error is a terminal, the
// end of the run clears the progress line and writes one summary there
// (file systems, files extracted, skipped and lost, bytes written, elapsed
// time, and what the exit status means), after what was found of deleted
// files and free space and whether an EWF set verified (formatRecordLines).
// Elsewhere it writes nothing.
#ifndef BFSSCAN_TERMINAL_SUMMARY_H
#define BFSSCAN_TERMINAL_SUMMARY_H

#include <chrono>
#include <string>

#include "scan_sink.h"
#include "terminal.h"

class TerminalSummary : public ScanSink {
 public:
  // Enabled when standard error is a terminal (or as enabled says).
  explicit TerminalSummary(Terminal& terminal);
  TerminalSummary(Terminal& terminal, bool enabled);
  void start(const std::string& path) override;  // the clock starts here
  void image(const ImageEvent& e) override;
  void end(const EndEvent& e) override;
  // Sinks whose own output failing at the end makes the status 2 (the
  // list this one is in).
  void watch(const ScanSink* sinks) { watched_ = sinks; }

 private:
  Terminal& terminal_;
  bool enabled_;
  const ScanSink* watched_ = nullptr;
  std::chrono::steady_clock::time_point started_;
  bool ewfDigest_ = false;  // the image is an EWF set that stores an MD5
};

// "bfsscan: 2 file systems, 5 files extracted, 1 skipped, 0 lost, 12.3 MiB
// written in 0.4 s; status 2: something is missing (see above)", without a
// newline. A dry run's: "5 files listed, ... 12.3 MiB to write (dry run) in".
std::string formatSummary(const EndEvent& e, double seconds);

// The lines before it, each with its newline: with --deleted or
// --unallocated "bfsscan: 1 deleted candidates, 2 deleted names, 0 orphans,
// 3 pieces of free space and slack written (2.0 KiB)"; for an EWF set that
// stores an MD5 (ewfDigest) "bfsscan: EWF set verified: MD5 matches", or
// that it differs, or that it was not read whole. Empty otherwise.
std::string formatRecordLines(const EndEvent& e, bool ewfDigest);

#endif  // BFSSCAN_TERMINAL_SUMMARY_H
