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
  // that cannot be read whole is the archive's last.
  static std::unique_ptr<StreamInput> open(const std::string& path, ImageFormat format,
                                           const std::string& forced, uint64_t maxImage,
                                           bool keepGoing);

  // The name of the next image ("PATH", or "PATH:MEMBER" in an archive);
  // false when there is none left.
  virtual bool next(std::string* name) = 0;
  // Decodes the image named by the last next().
  virtual DecodedImage decode(const DecodeTick& tick) = 0;
};

// The default limit on the decompressed length of one image: 16 TiB.
constexpr uint64_t kDefaultMaxImage = 16ull << 40;

#endif  // BFSSCAN_STREAM_INPUT_H
