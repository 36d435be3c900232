// A request to stop a scan, made from another thread or a signal handler
// and seen by the scan between pieces of work: it then removes the file it
// was writing, ends its sinks properly and returns 128 + the number given.
#ifndef BFSSCAN_STOP_TOKEN_H
#define BFSSCAN_STOP_TOKEN_H

#include <atomic>

namespace bfsscan {

class StopToken {
 public:
  // Asks the scan to stop; reason is a signal number (SIGINT, SIGTERM) or
  // any positive number below 128. The first request wins.
  void request(int reason) {
    int none = 0;
    reason_.compare_exchange_strong(none, reason);
  }
  // The reason given, or 0 while no stop was asked for.
  int requested() const { return reason_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int> reason_{0};
};

}  // namespace bfsscan

#endif  // BFSSCAN_STOP_TOKEN_H
