// Fuzzing target: the gzip decoder of compressed images and the telling of
// streams by their first bytes. The first byte chooses:
//   even: the rest is a gzip stream as it is. What the decoder hands out
//         before it reports damage is a prefix of what zlib alone inflates
//         (members one after another); a stream it reads without damage is
//         exactly that, and zlib ended there at the end of a member.
//   odd:  the rest is a payload, compressed here as one gzip member whose
//         trailer (CRC-32, ISIZE) is then changed as the second byte says
//         (or not at all). The decoder gives the payload back, and reports
//         damage exactly when the trailer was changed.
// Either way: the input is read in pieces of varying size and decoded into
// buffers of varying size, at most 1 MiB of it; kindOf calls a head gzip
// exactly when it starts 1f 8b 08, never calls one of zeros anything, and
// looks no further than kSignatureBytes.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "byte_source.h"
#include "fuzz_check.h"
#include "stream_failure.h"
#include "stream_signature.h"

namespace {

constexpr size_t kMaxOut = 1 << 20;

// Bytes in memory, handed out in pieces of a few sizes.
class MemorySource : public ByteSource {
 public:
  MemorySource(const std::string& bytes, unsigned seed) : bytes_(bytes), seed_(seed) {}
  size_t read(char* buf, size_t n) override {
    static const size_t kSizes[] = {1, 7, 512, 4096, 65536};
    const size_t piece = kSizes[(seed_ + calls_++) % 5];
    const size_t m = std::min({n, piece, bytes_.size() - at_});
    std::memcpy(buf, bytes_.data() + at_, m);
    at_ += m;
    return m;
  }

 private:
  const std::string& bytes_;
  unsigned seed_;
  size_t at_ = 0, calls_ = 0;
};

struct Decoded {
  std::string bytes;
  bool damaged = false;
};

Decoded decode(const std::string& stream, unsigned seed) {
  MemorySource in(stream, seed);
  std::unique_ptr<ByteSource> gz = makeGzipSource(in);
  Decoded out;
  static const size_t kBuffers[] = {4096, 1, 65536, 13};
  char buf[65536];
  try {
    for (unsigned k = seed;; ++k) {
      const size_t n = gz->read(buf, kBuffers[k % 4]);
      if (n == 0) break;
      FUZZ_CHECK(n <= kBuffers[k % 4]);
      out.bytes.append(buf, n);
      if (out.bytes.size() >= kMaxOut) break;
    }
  } catch (const StreamDamage&) {
    out.damaged = true;
  }
  return out;
}

// What zlib alone inflates of members one after another (up to kMaxOut and
// a bit), and whether it ended cleanly at the end of a member.
Decoded reference(const std::string& stream) {
  Decoded out;
  z_stream z;
  std::memset(&z, 0, sizeof z);
  FUZZ_CHECK(inflateInit2(&z, 16 + MAX_WBITS) == Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  char buf[65536];
  bool atEnd = false;
  while (out.bytes.size() < kMaxOut + sizeof buf) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    const int rc = inflate(&z, Z_NO_FLUSH);
    out.bytes.append(buf, sizeof buf - z.avail_out);
    if (rc == Z_STREAM_END) {
      atEnd = true;
      if (z.avail_in == 0 || *z.next_in != 0x1f) break;  // not another member
      FUZZ_CHECK(inflateReset(&z) == Z_OK);
      atEnd = false;
      continue;
    }
    if (rc != Z_OK) break;
  }
  inflateEnd(&z);
  out.damaged = !atEnd;
  return out;
}

std::string gzipOf(const std::string& payload, int level) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  FUZZ_CHECK(deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK);
  std::string out(deflateBound(&z, payload.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  z.avail_in = static_cast<uInt>(payload.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  FUZZ_CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

void checkSignature(const std::string& head) {
  const StreamKind kind = kindOf(head);
  FUZZ_CHECK((kind == StreamKind::kGzip) == (head.compare(0, 3, "\x1f\x8b\x08", 3) == 0));
  if (head.find_first_not_of('\0') == std::string::npos) FUZZ_CHECK(kind == StreamKind::kNone);
  if (head.size() >= kSignatureBytes) FUZZ_CHECK(kindOf(head.substr(0, kSignatureBytes)) == kind);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const unsigned seed = data[1];
  checkSignature(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  if (data[0] % 2 == 0) {
    const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
    const Decoded ours = decode(stream, seed);
    const Decoded zlib = reference(stream);
    FUZZ_CHECK(zlib.bytes.compare(0, ours.bytes.size(), ours.bytes) == 0);
    if (!ours.damaged && ours.bytes.size() < kMaxOut) {
      FUZZ_CHECK(ours.bytes == zlib.bytes);
      FUZZ_CHECK(!zlib.damaged || stream.empty());
    }
    return 0;
  }
  // A payload and a trailer changed or not: byte 1 names a trailer byte
  // (0-7) to flip, or none (8 and up).
  std::string stream = gzipOf(rest, data[0] / 2 % 10);
  const unsigned flip = seed % 16;
  if (flip < 8) stream[stream.size() - 8 + flip] ^= static_cast<char>(1 + data[0] / 32);
  const Decoded ours = decode(stream, seed);
  FUZZ_CHECK(ours.bytes == rest);
  FUZZ_CHECK(ours.damaged == (flip < 8));
  return 0;
}
