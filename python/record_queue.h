// A bounded queue of lines between the thread that runs a scan and the
// Python iterator that reads its records: the scan waits while the queue is
// full, so a reader that pauses holds memory for a fixed number of lines;
// once the reader has closed it, lines are dropped and the scan never waits.
#ifndef BFSSCAN_RECORD_QUEUE_H
#define BFSSCAN_RECORD_QUEUE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

class RecordQueue {
 public:
  explicit RecordQueue(size_t capacity) : capacity_(capacity) {}

  // The scan's side: waits for room, then appends line; drops it once the
  // reader has closed the queue.
  void push(std::string line) {
    std::unique_lock<std::mutex> lock(mutex_);
    roomOrClosed_.wait(lock, [&] { return closed_ || lines_.size() < capacity_; });
    if (closed_) return;
    lines_.push_back(std::move(line));
    lineOrEnd_.notify_one();
  }

  // The scan's side: no line follows.
  void finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    lineOrEnd_.notify_all();
  }

  enum Result { kLine, kEnd, kNothingYet };

  // The reader's side: takes the next line into *line, or tells that no
  // line will come, or that none came within wait.
  Result pop(std::string* line, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!lineOrEnd_.wait_for(lock, wait, [&] { return finished_ || !lines_.empty(); })) {
      return kNothingYet;
    }
    if (lines_.empty()) return kEnd;
    *line = std::move(lines_.front());
    lines_.pop_front();
    roomOrClosed_.notify_one();
    return kLine;
  }

  // The reader's side: takes no more lines; a waiting push returns.
  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    lines_.clear();
    roomOrClosed_.notify_all();
  }

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable roomOrClosed_;
  std::condition_variable lineOrEnd_;
  std::deque<std::string> lines_;
  bool finished_ = false;
  bool closed_ = false;
};

#endif  // BFSSCAN_RECORD_QUEUE_H
