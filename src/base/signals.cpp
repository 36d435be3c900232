#include "signals.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t g_signal = 0;

extern "C" void onStopSignal(int sig) { g_signal = sig; }
}  // namespace

void installSignalHandlers() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a long read or write returns early
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int pendingSignal() { return g_signal; }

Interrupted::Interrupted(int signal) : std::runtime_error("interrupted"), signal_(signal) {}
