// The native half of the Python module bfsscan: a scan runs in a thread of
// its own, never holding the interpreter's lock, and hands its records as
// JSON Lines text through a bounded queue to the iterator Python drains.
// Closing the iterator (or losing it) asks the scan to stop and waits for
// it, so that the file it was writing is removed before control returns.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "batch_bindings.h"
#include "bfsscan/bfsscan.h"
#include "hashing.h"
#include "json_lines.h"
#include "open_binding.h"
#include "record_queue.h"
#include "scan_input.h"

namespace py = pybind11;

namespace {

// Records held for a reader that is behind; each is one short line.
constexpr size_t kQueuedRecords = 256;
// How often a reader waiting for a record looks for a KeyboardInterrupt.
constexpr std::chrono::milliseconds kSignalPoll{50};

// What scan() was asked for: the input and the scan's configuration.
struct Settings {
  InputRequest input;
  bfsscan::ScanConfig config;
};

bool truth(py::handle value) {
  const int t = PyObject_IsTrue(value.ptr());
  if (t < 0) throw py::error_already_set();
  return t != 0;
}

std::optional<uint64_t> size(py::handle value) {
  if (value.is_none()) return std::nullopt;
  return value.cast<uint64_t>();
}

// The keywords of scan() that change the records, one line each: how each
// sets the scan (a keyword not listed is a TypeError).
using Setter = void (*)(Settings&, py::handle);
const std::pair<const char*, Setter> kOptions[] = {
    {"extract_to", [](Settings& s, py::handle v) {  // bytes, from os.fsencode
       s.config.dryRun = v.is_none();
       if (!v.is_none()) s.config.directory = v.cast<std::string>();
     }},
    {"keep_going", [](Settings& s, py::handle v) { s.config.keepGoing = truth(v); }},
    {"preserve", [](Settings& s, py::handle v) { s.config.preserve = truth(v); }},
    {"deleted", [](Settings& s, py::handle v) { s.config.deleted = truth(v); }},
    {"unallocated", [](Settings& s, py::handle v) { s.config.unallocated = truth(v); }},
    {"max_output", [](Settings& s, py::handle v) { s.config.maxOutput = size(v); }},
    {"max_image", [](Settings& s, py::handle v) {
       s.config.maxImage = size(v).value_or(bfsscan::ScanConfig().maxImage);
     }},
    {"format", [](Settings& s, py::handle v) {
       const std::string name = v.cast<std::string>();
       if (!parseInputFormat(name, &s.input.format, &s.input.streamFormat)) {
         throw std::invalid_argument("unknown image format '" + name + "'");
       }
     }},
    {"name", [](Settings& s, py::handle v) {  // as --name: None is the image's file name
       const std::string name = v.is_none() ? "" : py::str(v).cast<std::string>();
       if (name == "." || name == ".." || name.find('/') != std::string::npos) {
         throw std::invalid_argument("name must name a directory, not '" + name + "'");
       }
       s.config.name = name;
     }},
    {"hashes", [](Settings& s, py::handle v) {
       std::string list;
       for (py::handle h : v) list += (list.empty() ? "" : ",") + h.cast<std::string>();
       s.config.hashes.clear();
       if (!list.empty() && !parseHashList(list, &s.config.hashes)) {
         throw std::invalid_argument("hashes are md5, sha1 or sha256, each at most once, not '" +
                                     list + "'");
       }
     }},
};

Settings settingsOf(const py::dict& options) {
  Settings s;
  s.config.dryRun = true;
  for (const auto& item : options) {
    const std::string key = item.first.cast<std::string>();
    const auto* found = std::find_if(std::begin(kOptions), std::end(kOptions),
                                     [&](const auto& o) { return key == o.first; });
    if (found == std::end(kOptions)) {
      throw py::type_error("scan() got an unexpected keyword argument '" + key + "'");
    }
    found->second(s, item.second);
  }
  s.input.maxImage = s.config.maxImage;
  s.input.keepGoing = s.config.keepGoing;
  return s;
}

class NativeScan {
 public:
  // image: the path (bytes) to open as the command does; None for a
  // stream fed through feed_fd(), read as standard input is.
  NativeScan(const py::object& image, const py::dict& options)
      : settings_(settingsOf(options)), queue_(kQueuedRecords) {
    if (image.is_none()) {
      int pair[2];
      if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        throw std::system_error(errno, std::generic_category(), "socketpair");
      }
      readEnd_ = pair[0];
      feedEnd_ = pair[1];
      settings_.input.path = "-";
      settings_.input.fd = readEnd_;
    } else {
      settings_.input.path = image.cast<std::string>();
    }
    thread_ = std::thread([this] { run(); });
  }

  ~NativeScan() {
    stopAndJoin();
    if (feedEnd_ >= 0) ::close(feedEnd_);
  }
  NativeScan(const NativeScan&) = delete;
  NativeScan& operator=(const NativeScan&) = delete;

  // The descriptor to write the stream to, handed over once (the writer
  // closes it at the end of the stream); -1 after that, or for a path.
  int takeFeed() { return std::exchange(feedEnd_, -1); }

  // The next record as a line of JSON, or None after the last. Called with
  // the interpreter's lock held; waits without it.
  py::object nextLine() {
    std::string line;
    for (;;) {
      RecordQueue::Result got;
      {
        py::gil_scoped_release release;
        got = queue_.pop(&line, kSignalPoll);
      }
      if (got == RecordQueue::kLine) return py::str(line);
      if (got == RecordQueue::kEnd) {
        join();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
        return py::none();
      }
      if (PyErr_CheckSignals() != 0) {  // a KeyboardInterrupt, say
        py::error_already_set pending;
        close();
        throw pending;
      }
    }
  }

  // Asks the scan to stop, drops what it has not handed over yet and waits
  // for it to end. Harmless after the end.
  void close() {
    py::gil_scoped_release release;
    stopAndJoin();
  }

 private:
  void run() {
    JsonLinesSink sink([this](const std::string& line) { queue_.push(line); },
                       bfsscan::version());
    try {
      ScanRequest request;
      request.config = settings_.config;
      ScanInput(settings_.input).scan(request, sink, &stop_);
    } catch (...) {
      failure_ = std::current_exception();
    }
    queue_.finish();
  }

  void stopAndJoin() {
    stop_.request(SIGINT);
    queue_.close();
    // A scan waiting for the stream's next bytes sees its end at once.
    if (readEnd_ >= 0) ::shutdown(readEnd_, SHUT_RDWR);
    join();
    if (readEnd_ >= 0) ::close(std::exchange(readEnd_, -1));
  }

  void join() {
    if (thread_.joinable()) thread_.join();
  }

  Settings settings_;
  int readEnd_ = -1;  // the scan's side of a fed stream
  int feedEnd_ = -1;  // the feeder's, until handed over
  bfsscan::StopToken stop_;
  RecordQueue queue_;
  std::exception_ptr failure_;  // set by the scan's thread before it finishes
  std::thread thread_;
};

}  // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() = "The scanner behind the bfsscan module; use bfsscan.scan().";
  m.def("version", [] { return std::string(bfsscan::version()); });
  py::class_<NativeScan>(m, "Scan")
      .def(py::init<const py::object&, const py::dict&>(), py::arg("image"), py::arg("options"))
      .def("take_feed", &NativeScan::takeFeed)
      .def("next_line", &NativeScan::nextLine)
      .def("close", &NativeScan::close);
  defineOpen(m);
  addBatchBindings(m);
}
