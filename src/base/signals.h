// Signals during a run: SIGPIPE and SIGXFSZ are ignored (a closed pipe or
// a file-size limit is an ordinary write failure); SIGINT and SIGTERM only
// set a flag that the scan checks between pieces of work, so that it can
// remove the file it was writing and close its other outputs properly.
#ifndef BFSSCAN_SIGNALS_H
#define BFSSCAN_SIGNALS_H

#include <stdexcept>

void installSignalHandlers();

// The signal that asked the run to stop, or 0.
int pendingSignal();

// Thrown at a check point when a signal asked the run to stop.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal);
  int signal() const { return signal_; }

 private:
  int signal_;
};

// Throws Interrupted when a signal asked the run to stop.
inline void checkInterrupted() {
  if (const int sig = pendingSignal()) throw Interrupted(sig);
}

#endif  // BFSSCAN_SIGNALS_H
