// The bytes of an .xz stream, decoded with liblzma's multi-threaded decoder:
// a stream of several blocks whose headers give their sizes (as xz writes
// with threads) is decoded on two cores, a block per thread; a single block
// is decoded in the caller's thread, as a one-threaded decoder would. The
// damage is told in the words libarchive, the decoder of the other streams,
// uses for it, so that a cut or corrupt .xz reads as it always has.
#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "byte_source.h"
#include "stream_failure.h"

namespace {

constexpr size_t kXzInput = 64 << 10;
// The decoders' memory (each thread holds a block's compressed and
// decompressed bytes and its dictionary): beyond this the decoder falls
// back to one thread; a block of xz -T2 -6 (24 MiB) takes two threads.
constexpr uint64_t kThreadedMemory = 256ull << 20;

std::string xzDamage(lzma_ret rc) {
  switch (rc) {
    case LZMA_MEM_ERROR: return "Lzma library error: Cannot allocate memory";
    case LZMA_MEMLIMIT_ERROR: return "Lzma library error: Out of memory";
    case LZMA_FORMAT_ERROR: return "Lzma library error: format not recognized";
    case LZMA_OPTIONS_ERROR: return "Lzma library error: Invalid options";
    case LZMA_DATA_ERROR: return "Lzma library error: Corrupted input data";
    case LZMA_BUF_ERROR: return "Lzma library error: No progress is possible";
    default: return "Lzma decompression failed: Unknown error";
  }
}

class XzSource : public ByteSource {
 public:
  explicit XzSource(ByteSource& in) : in_(in), input_(kXzInput) {
    lzma_mt mt = {};
    mt.flags = LZMA_CONCATENATED;
    mt.threads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
    mt.timeout = 0;
    mt.memlimit_threading = kThreadedMemory;
    mt.memlimit_stop = UINT64_MAX;  // no limit, as before
    const lzma_ret rc = lzma_stream_decoder_mt(&s_, &mt);
    if (rc != LZMA_OK) throw StreamDamage(xzDamage(rc));
  }
  ~XzSource() override { lzma_end(&s_); }

  size_t read(char* buf, size_t n) override {
    if (!pending_.empty()) throw StreamDamage(pending_);
    if (done_ || n == 0) return 0;
    s_.next_out = reinterpret_cast<uint8_t*>(buf);
    s_.avail_out = n;
    while (s_.avail_out > 0) {
      if (s_.avail_in == 0 && !eof_) {
        try {
          fill();
        } catch (const StreamDamage& d) {
          damage(buf, d.what());
          break;
        }
      }
      const lzma_ret rc = lzma_code(&s_, eof_ ? LZMA_FINISH : LZMA_RUN);
      if (rc == LZMA_STREAM_END) {
        done_ = true;
        break;
      }
      if (rc != LZMA_OK) {
        damage(buf, xzDamage(rc));
        break;
      }
    }
    return static_cast<size_t>(reinterpret_cast<char*>(s_.next_out) - buf);
  }

 private:
  void fill() {
    const size_t got = in_.read(input_.data(), input_.size());
    if (got == 0) eof_ = true;
    s_.next_in = reinterpret_cast<const uint8_t*>(input_.data());
    s_.avail_in = got;
  }

  // Damage after some bytes: those are handed out first.
  // Nothing is decoded after damage.
  void damage(const char* buf, const std::string& reason) {
    pending_ = reason;
    if (reinterpret_cast<char*>(s_.next_out) == buf) throw StreamDamage(reason);
  }

  ByteSource& in_;
  std::vector<char> input_;
  lzma_stream s_ = LZMA_STREAM_INIT;
  bool eof_ = false;
  bool done_ = false;
  std::string pending_;
};

}  // namespace

bool isXzStream(const std::string& head) {
  return head.compare(0, 6, std::string("\xfd" "7zXZ\0", 6)) == 0;
}

std::unique_ptr<ByteSource> makeXzSource(ByteSource& in) {
  return std::make_unique<XzSource>(in);
}
