// Reading a piece in two halves at once gives what one read gives: the
// bytes, the short end, and the first failure in order.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "paired_read.h"

namespace {

// Bytes in memory whose reads fail where they cover one offset. A read at
// 0 of a piece read in halves waits until another read has begun, so that the helper thread surely
// reads the second half (at most a minute: a guard against a hang).
class BytesWithBadByte : public Image {
 public:
  BytesWithBadByte(size_t length, int64_t badAt) : bytes_(length), badAt_(badAt) {
    for (size_t i = 0; i < length; ++i) bytes_[i] = static_cast<char>(i * 7 + i / 4096);
  }
  const char* formatName() const override { return "raw"; }
  int64_t length() const override { return static_cast<int64_t>(bytes_.size()); }
  bool isSameFile(dev_t, ino_t) const override { return false; }
  size_t readUpTo(uint64_t pos, char* buf, size_t n) const override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (pos == 0 && bytes_.size() >= PairedRead::kSmallest) {
        helperBegan_.wait_for(lock, std::chrono::minutes(1), [this] { return others_ > 0; });
      } else {
        ++others_;
        helperBegan_.notify_all();
      }
    }
    if (pos >= bytes_.size()) return 0;
    n = std::min<size_t>(n, bytes_.size() - pos);
    if (badAt_ >= static_cast<int64_t>(pos) && badAt_ < static_cast<int64_t>(pos + n)) {
      throw ReadFailure(ReadFailure::kSystemError, EIO);
    }
    std::copy(bytes_.begin() + static_cast<long>(pos), bytes_.begin() + static_cast<long>(pos + n),
              buf);
    return n;
  }
  const std::vector<char>& bytes() const { return bytes_; }

 private:
  std::vector<char> bytes_;
  int64_t badAt_;
  mutable std::mutex mutex_;
  mutable std::condition_variable helperBegan_;
  mutable int others_ = 0;
};

TEST(PairedReadTest, GivesWhatOneReadGives) {
  constexpr size_t kPiece = 512 << 10;
  struct Row {
    const char* label;
    size_t imageLength;
    int64_t badAt;
    uint64_t pos;
    size_t expectGot;  // bytes, or 0 with a failure
    bool expectFailure;
  } rows[] = {
      {"whole piece", 2 * kPiece, -1, 0, kPiece, false},
      {"image ends in the first half", kPiece / 4, -1, 0, kPiece / 4, false},
      {"image ends in the second half", kPiece - 1000, -1, 0, kPiece - 1000, false},
      {"bad byte in the first half", 2 * kPiece, 100, 0, 0, true},
      {"bad byte in the second half", 2 * kPiece, kPiece - 1, 0, 0, true},
      {"bad byte past the piece", 2 * kPiece, kPiece, 0, kPiece, false},
      {"small piece, one read", 4096, -1, 0, 4096, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    BytesWithBadByte image(row.imageLength, row.badAt);
    PairedRead pairs(image);
    // Twice: the helper thread is reused.
    for (int round = 0; round < 2; ++round) {
      std::vector<char> buf(kPiece, 'x');
      const size_t want = row.imageLength < PairedRead::kSmallest ? row.imageLength : kPiece;
      if (row.expectFailure) {
        try {
          pairs.readUpTo(row.pos, buf.data(), want);
          ADD_FAILURE() << "no failure";
        } catch (const ReadFailure& failure) {
          EXPECT_EQ(ReadFailure::kSystemError, failure.kind());
        }
        continue;
      }
      ASSERT_EQ(row.expectGot, pairs.readUpTo(row.pos, buf.data(), want));
      EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<long>(row.expectGot),
                             image.bytes().begin() + static_cast<long>(row.pos)));
    }
  }
}

}  // namespace
