#include "inode_command.h"

#include <iostream>
#include <memory>

#include "escape.h"
#include "exit_status.h"
#include "one_file_system.h"
#include "scan.h"
#include "stat_lines.h"
#include "stream_input.h"

namespace {

// The image of the command line, opened as the scan opens it: a stream is
// decoded into a spool (its first image only). Null after saying why not.
std::unique_ptr<Image> openImage(const ScanOptions& options, Terminal& terminal,
                                 const StopToken* stop) {
  const std::string shown = escapeForDiag(options.image);
  const std::unique_ptr<StreamInput> stream = StreamInput::open(
      options.image, options.format, options.streamFormat,
      options.maxImageGiven ? options.maxImage : kMaxImageByInput, false, stop);
  if (!stream) {
    OpenedImage opened = openForScan(options.image, options.format);
    if (opened.failure) {
      terminal.err() << "error reading " << shown << ": " << opened.failure->description()
                     << std::endl;
    }
    return std::move(opened.image);
  }
  std::string name;
  if (!stream->next(&name)) {
    terminal.err() << "error reading " << shown << ": it holds no image" << std::endl;
    return nullptr;
  }
  DecodedImage d = stream->decode([&](uint64_t, uint64_t) { checkStop(stop); });
  for (const std::string& reason : d.problems) {
    terminal.err() << "error reading " << escapeForDiag(name) << ": " << reason << std::endl;
  }
  return std::move(d.image);
}

int cat(const OneFileSystem& fs, const SlotRecord& r, Terminal& terminal, const StopToken* stop) {
  fs.checkReadable(r);
  terminal.beforeRawOutput();
  std::ostream& out = std::cout;
  bool lost = false;
  try {
    fs.forEachPiece(r, [&](const char* piece, size_t n) {
      checkStop(stop);
      if (!lost && !out.write(piece, static_cast<std::streamsize>(n))) lost = true;
    });
  } catch (const FileSystemError&) {
    out.flush();  // the bytes before the unreadable ones
    throw;
  }
  if (!out.flush() || lost) {
    terminal.err() << "bfsscan: cannot write standard output" << std::endl;
    return kExitIncomplete;
  }
  return kExitSuccess;
}

}  // namespace

int runInodeCommand(const ScanOptions& options, Terminal& terminal, const StopToken* stop) {
  const InodeTarget& t = options.target;
  try {
    const std::unique_ptr<Image> image = openImage(options, terminal, stop);
    if (!image) return kExitIncomplete;
    const OneFileSystem fs(*image, t.fs);
    if (options.cat)
      return cat(fs, t.deleted ? fs.deleted(t.number) : fs.inode(t.number), terminal, stop);
    SlotRecord r;
    std::vector<std::string> names;
    if (t.deleted) {
      r = fs.deleted(t.number);
    } else {
      try {
        r = fs.inode(t.number);
      } catch (const FileSystemError& notInUse) {
        // An unused slot may still hold a deleted candidate.
        try {
          r = fs.deleted(t.number);
        } catch (const FileSystemError&) {
          throw notInUse;
        }
      }
      if (r.state == SlotRecord::kInUse) names = fs.namesOf(t.number);
    }
    std::cout << statLines(t.fs, r, names) << std::flush;
    if (!std::cout) {
      terminal.err() << "bfsscan: cannot write standard output" << std::endl;
      return kExitIncomplete;
    }
    return kExitSuccess;
  } catch (const ReadFailure& failure) {
    terminal.err() << "error reading " << escapeForDiag(options.image) << ": "
                   << failure.description() << std::endl;
    return kExitIncomplete;
  } catch (const FileSystemError& e) {
    terminal.err() << "bfsscan: " << e.what() << std::endl;
    return kExitIncomplete;
  } catch (const Interrupted& interruption) {
    terminal.err() << "bfsscan: interrupted" << std::endl;
    return 128 + interruption.signal();
  }
}
