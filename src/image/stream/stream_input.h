// Images that arrive as a stream rather than as a file to read at random:
// standard input ("-"), a named pipe, a compressed image, an archive of
// images. Each image is decoded whole into a spool (spool.h), which is then
// read as a raw image, or as a container when it is one. An archive gives
// one image per regular-file member, in archive order.
#ifndef BFSSCAN_STREAM_INPUT_H
#define BFSSCAN_STREAM_INPUT_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bfsscan/stop_token.h"
#include "image.h"

// One image of the input, decoded and ready to scan.
struct DecodedImage {
  std::unique_ptr<Image> image;  // null when not even an empty spool could be made
  std::string stem;              // names its extraction directories (STEM-OFFSET)
  // Why the image ends early or could not be read whole, for
  // "error reading NAME: REASON"; empty when it is whole.
  std::vector<std::string> problems;
  bool last = true;  // no image of the input follows
  // How it was reached, outermost first: {"gzip"}, {"zip member m.img"};
  // the image's own format is not in it.
  std::vector<std::string> chain;
  uint64_t storedLength = 0;  // bytes of the input file as stored; 0 when unknown
};

// Called between pieces of decoding with the bytes read from the input so
// far and its length (0 when unknown). May throw to stop the decoding.
using DecodeTick = std::function<void(uint64_t consumed, uint64_t total)>;

class StreamInput {
 public:
  virtual ~StreamInput() = default;

  // The input at path when it is to be read as a stream: "-" (standard
  // input), a named pipe, or a file that starts with the signature of a
  // compressed stream or an archive; null for anything else (a raw image or
  // a container, opened as before), and always null when format is not
  // kAuto. forced names a compression or archive format to read the input
  // as, whatever its signature (empty: by signature). maxImage limits the
  // decompressed length of each image (0: none). Unless keepGoing, a member
  // that cannot be read whole is the archive's last. A stop asked for by
  // stop (may be null) ends a read that waits on a pipe.
  static std::unique_ptr<StreamInput> open(const std::string& path, ImageFormat format,
                                           const std::string& forced, uint64_t maxImage,
                                           bool keepGoing,
                                           const bfsscan::StopToken* stop = nullptr);

  // The same for a descriptor that is already open (not taken over):
  // read in place when it is a plain file without a stream's signature,
  // else as a stream; path names it in messages and stem its extraction
  // directories ("-" and "stdin" for standard input). Null when fd cannot
  // be looked at.
  static std::unique_ptr<StreamInput> openDescriptor(int fd, const std::string& path,
                                                     const std::string& stem,
                                                     const std::string& forced,
                                                     uint64_t maxImage, bool keepGoing,
                                                     const bfsscan::StopToken* stop = nullptr);

  // The name of the next image ("PATH", or "PATH:MEMBER" in an archive,
  // MEMBER escaped as standard error escapes names: \n, \xHH);
  // false when there is none left.
  virtual bool next(std::string* name) = 0;
  // Decodes the image named by the last next().
  virtual DecodedImage decode(const DecodeTick& tick) = 0;
  // The archive member named by the last next(); empty outside an archive.
  virtual std::string member() const { return ""; }
  // Whether the input may give more than one image (an archive).
  virtual bool mayGiveSeveral() const { return false; }
};

// A format name as --format takes it: an image format (format, with
// streamFormat empty), or a compression or archive format (streamFormat,
// with format kAuto). False for an unknown name.
bool parseInputFormat(const std::string& name, ImageFormat* format, std::string* streamFormat);

// The default limit on the decompressed length of one image: 16 TiB.
constexpr uint64_t kDefaultMaxImage = 16ull << 40;
// A maxImage that asks for the default bound in proportion to the input
// (image_bound.h): 1,000 times a compressed file, at least 1 GiB; for a
// pipe, the free space of $TMPDIR less a tenth.
constexpr uint64_t kMaxImageByInput = UINT64_MAX;

#endif  // BFSSCAN_STREAM_INPUT_H
