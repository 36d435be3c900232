// The scan's side of a stop request: the token it is given, looked at
// between pieces of work, and the exception that carries the request out
// of the frames in between, so that each can remove what it was writing.
#ifndef BFSSCAN_STOP_H
#define BFSSCAN_STOP_H

#include <stdexcept>

#include "bfsscan/stop_token.h"

using bfsscan::StopToken;

// Thrown at a check point when a stop was asked for.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal) : std::runtime_error("interrupted"), signal_(signal) {}
  int signal() const { return signal_; }

 private:
  int signal_;
};

// Throws Interrupted when stop (which may be null) asks the run to stop.
inline void checkStop(const StopToken* stop) {
  if (stop != nullptr) {
    if (const int reason = stop->requested()) throw Interrupted(reason);
  }
}

#endif  // BFSSCAN_STOP_H
