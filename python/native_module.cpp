// The native half of the Python module bfsscan: a scan runs in a thread of
// its own, never holding the interpreter's lock, and hands its records as
// JSON Lines text through a bounded queue to the iterator Python drains.
// Closing the iterator (or losing it) asks the scan to stop and waits for
// it, so that the file it was writing is removed before control returns.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <csignal>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "batch_bindings.h"
#include "bfsscan/bfsscan.h"
#include "hashing.h"
#include "image.h"
#include "json_lines.h"
#include "record_queue.h"

namespace py = pybind11;

namespace {

// Records held for a reader that is behind; each is one short line.
constexpr size_t kQueuedRecords = 256;
// How often a reader waiting for a record looks for a KeyboardInterrupt.
constexpr std::chrono::milliseconds kSignalPoll{50};

class NativeScan {
 public:
  NativeScan(std::string image, const std::string& format, std::optional<std::string> extractTo,
             bool keepGoing, bool preserve, const std::vector<std::string>& hashes,
             std::optional<uint64_t> maxOutput)
      : image_(std::move(image)), format_(format), queue_(kQueuedRecords) {
    ImageFormat parsed;
    if (!parseImageFormat(format, &parsed)) {
      throw std::invalid_argument("unknown image format '" + format + "'");
    }
    if (!hashes.empty()) {
      std::string list;
      for (const std::string& h : hashes) list += (list.empty() ? "" : ",") + h;
      if (!parseHashList(list, &config_.hashes)) {
        throw std::invalid_argument("hashes are md5, sha1 or sha256, each at most once, not '" +
                                    list + "'");
      }
    }
    config_.dryRun = !extractTo;
    if (extractTo) config_.directory = *extractTo;
    config_.keepGoing = keepGoing;
    config_.preserve = preserve;
    config_.maxOutput = maxOutput;
    thread_ = std::thread([this] { run(); });
  }

  ~NativeScan() { stopAndJoin(); }
  NativeScan(const NativeScan&) = delete;
  NativeScan& operator=(const NativeScan&) = delete;

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
      bfsscan::scan(image_, format_, config_, sink, &stop_);
    } catch (...) {
      failure_ = std::current_exception();
    }
    queue_.finish();
  }

  void stopAndJoin() {
    stop_.request(SIGINT);
    queue_.close();
    join();
  }

  void join() {
    if (thread_.joinable()) thread_.join();
  }

  const std::string image_;
  const std::string format_;
  bfsscan::ScanConfig config_;
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
      .def(py::init<std::string, const std::string&, std::optional<std::string>, bool, bool,
                    const std::vector<std::string>&, std::optional<uint64_t>>(),
           py::arg("image"), py::arg("format"), py::arg("extract_to"), py::arg("keep_going"),
           py::arg("preserve"), py::arg("hashes"), py::arg("max_output"))
      .def("next_line", &NativeScan::nextLine)
      .def("close", &NativeScan::close);
  addBatchBindings(m);
}
