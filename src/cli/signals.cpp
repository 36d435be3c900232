#include "signals.h"

#include <csignal>

namespace {
// The one token the handlers reach: a signal handler has no other way in.
bfsscan::StopToken* g_stop = nullptr;

extern "C" void onStopSignal(int sig) {
  if (g_stop != nullptr) g_stop->request(sig);  // lock-free: safe in a handler
}
}  // namespace

void installSignalHandlers(bfsscan::StopToken& stop) {
  static_assert(std::atomic<int>::is_always_lock_free, "the token must be safe in a handler");
  g_stop = &stop;
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a long read or write returns early
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
