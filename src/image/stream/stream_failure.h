// What can end the reading of a compressed stream or an archive: damage in
// the stream itself (a cut, a checksum, a decoder's error), a spool that
// cannot be written, or the limit on the decompressed length.
#ifndef BFSSCAN_STREAM_FAILURE_H
#define BFSSCAN_STREAM_FAILURE_H

#include <cstring>
#include <stdexcept>
#include <string>

// The stream is damaged or could not be read: what was decoded before
// stands, nothing after it is reliable.
class StreamDamage : public std::runtime_error {
 public:
  explicit StreamDamage(const std::string& reason) : std::runtime_error(reason) {}
};

// The spool could not be created or written (a full $TMPDIR).
class SpoolFailure : public std::runtime_error {
 public:
  SpoolFailure(const std::string& dir, int error)
      : std::runtime_error("cannot write the temporary copy in " + dir + ": " +
                           std::strerror(error)) {}
};

#endif  // BFSSCAN_STREAM_FAILURE_H
