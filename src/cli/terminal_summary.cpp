#include "terminal_summary.h"

#include <ostream>

#include "human_units.h"

namespace {

std::string statusMeaning(int status) {
  switch (status) {
    case 0: return "complete";
    case 1: return "wrong command line";
    case 2: return "something is missing (see above)";
    case 3: return "a file system is inconsistent (see above)";
    default: return status > 128 ? "interrupted" : "unknown";
  }
}

}  // namespace

std::string formatSummary(const EndEvent& e, double seconds) {
  return "bfsscan: " + std::to_string(e.fileSystems) +
         (e.fileSystems == 1 ? " file system, " : " file systems, ") +
         std::to_string(e.filesExtracted) + (e.filesExtracted == 1 ? " file" : " files") +
         (e.dryRun ? " listed, " : " extracted, ") + std::to_string(e.filesSkipped) +
         " skipped, " + std::to_string(e.filesLost) + " lost, " + formatBytes(e.bytesWritten) +
         (e.dryRun ? " to write (dry run) in " : " written in ") +
         formatDuration(seconds) + "; status " + std::to_string(e.status) + ": " +
         statusMeaning(e.status);
}

std::string formatRecordLines(const EndEvent& e, bool ewfDigest) {
  std::string out;
  if (e.unowned) {
    out += "bfsscan: " + std::to_string(e.deletedCandidates) + " deleted candidates, " +
           std::to_string(e.deletedNames) + " deleted names, " + std::to_string(e.orphans) +
           " orphans, " + std::to_string(e.unallocatedWritten) +
           " pieces of free space and slack " + (e.dryRun ? "listed (" : "written (") +
           formatBytes(e.unallocatedBytes) + ")\n";
  }
  if (ewfDigest) {
    switch (e.verified) {
      case EndEvent::kMatches: out += "bfsscan: EWF set verified: MD5 matches\n"; break;
      case EndEvent::kDiffers: out += "bfsscan: EWF set NOT verified: MD5 differs\n"; break;
      case EndEvent::kNotChecked:
        out += "bfsscan: EWF set not verified: the media was not read whole\n";
        break;
    }
  }
  return out;
}

TerminalSummary::TerminalSummary(Terminal& terminal)
    : TerminalSummary(terminal, terminal.errIsTerminal()) {}

TerminalSummary::TerminalSummary(Terminal& terminal, bool enabled)
    : terminal_(terminal), enabled_(enabled), started_(std::chrono::steady_clock::now()) {}

void TerminalSummary::start(const std::string& /*path*/) {
  started_ = std::chrono::steady_clock::now();
}

void TerminalSummary::image(const ImageEvent& e) {
  ewfDigest_ = e.format == "ewf" && !e.storedMd5.empty();
}

void TerminalSummary::end(const EndEvent& e) {
  if (!enabled_) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  EndEvent shown = e;
  if (shown.status == 0 && watched_ && watched_->lostOutput()) shown.status = 2;
  terminal_.err() << formatRecordLines(shown, ewfDigest_) << formatSummary(shown, seconds) << '\n'
                  << std::flush;
}
