#include "mapped_window.h"

#include <sys/mman.h>

#include <csetjmp>
#include <csignal>
#include <cstring>

namespace {

sigjmp_buf g_jump;
volatile std::sig_atomic_t g_guarding = 0;
bool g_disabled = false;
bool g_handlerInstalled = false;
struct sigaction g_previous;

extern "C" void onBusError(int sig, siginfo_t* info, void* context) {
  if (g_guarding) {
    g_guarding = 0;
    siglongjmp(g_jump, 1);
  }
  // Not ours: behave as before this handler was installed.
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction) g_previous.sa_sigaction(sig, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
    return;
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void installHandler() {
  if (g_handlerInstalled) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGBUS, &action, &g_previous) != 0) {
    g_disabled = true;
    return;
  }
  g_handlerInstalled = true;
}

}  // namespace

const char* MappedWindow::map(uint64_t pos, size_t len) {
  if (!usable() || len == 0 || len > kSize) return nullptr;
  if (addr_ && pos >= pos_ && pos + len <= pos_ + len_) {
    return static_cast<const char*>(addr_) + (pos - pos_);
  }
  unmap();
  installHandler();
  if (g_disabled) return nullptr;
  void* addr = ::mmap(nullptr, len, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_,
                      static_cast<off_t>(pos));
  if (addr == MAP_FAILED) {
    g_disabled = true;  // a device or file that cannot be mapped: reads from now on
    return nullptr;
  }
  addr_ = addr;
  len_ = len;
  pos_ = pos;
  return static_cast<const char*>(addr_);
}

void MappedWindow::unmap() {
  if (addr_) ::munmap(addr_, len_);
  addr_ = nullptr;
  len_ = 0;
}

bool MappedWindow::guarded(void (*fn)(void*), void* ctx) {
  if (sigsetjmp(g_jump, 1) != 0) {
    g_disabled = true;
    return false;
  }
  g_guarding = 1;
  fn(ctx);
  g_guarding = 0;
  return true;
}

bool MappedWindow::disabled() { return g_disabled; }
