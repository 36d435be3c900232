// bfsscan: finds every BFS file system in a disk image, reports it and
// copies its files out. See exit_status.h for what the exit status means.
#include <algorithm>
#include <ctime>
#include <iostream>
#include <memory>

#include "body_file.h"
#include "case_database_sink.h"
#include "dfxml_sink.h"
#include "exit_status.h"
#include "json_lines.h"
#include "options.h"
#include "output_failure.h"
#include "progress.h"
#include "results_file.h"
#include "results_targets.h"
#include "scan.h"
#include "scan_sink.h"
#include "signals.h"
#include "stream_input.h"
#include "svg_map.h"
#include "terminal.h"
#include "terminal_summary.h"
#include "text_report.h"

#ifndef BFSSCAN_VERSION
#define BFSSCAN_VERSION "unknown"
#endif

namespace {

// The sinks of the command: a results file that cannot be finished at the
// end is said on standard error, and makes the status 2.
class CommandSinks : public SinkList {
 public:
  explicit CommandSinks(Terminal& terminal) : terminal_(terminal) {}
  void end(const EndEvent& e) override {
    try {
      SinkList::end(e);
    } catch (const OutputFailure& failure) {
      terminal_.err() << "bfsscan: " << failure.what() << '\n' << std::flush;
      failed_ = true;
    }
  }
  bool lostOutput() const override { return failed_ || SinkList::lostOutput(); }

 private:
  Terminal& terminal_;
  bool failed_ = false;
};

ScanRequest scanRequest(const ScanOptions& options) {
  ScanRequest request;
  request.image = options.image;
  request.format = options.format;
  bfsscan::ScanConfig& config = request.config;
  config.directory = options.directory;
  config.dryRun = options.dryRun;
  config.keepGoing = options.keepGoing;
  config.preserve = options.preserve;
  if (options.maxOutputGiven) config.maxOutput = options.maxOutput;
  config.hashes = options.hashes;
  config.unallocated = options.unallocated;
  config.deleted = options.deleted;
  return request;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);  // the report is buffered; see text_report.h
  ScanOptions options;
  std::string error;
  switch (parseCommandLine(argc, argv, &options, &error)) {
    case Command::kUsageError:
      std::cerr << error;
      return kExitUsage;
    case Command::kHelp:
      std::cout << kUsageText;
      return kExitSuccess;
    case Command::kVersion:
      std::cout << "bfsscan " BFSSCAN_VERSION "\n";
      return kExitSuccess;
    case Command::kScan:
      break;
  }
  bfsscan::StopToken stop;
  installSignalHandlers(stop);
  Terminal terminal;

  // Every results file is checked against the others and against every file
  // of the image before any of them is created or truncated.
  ResultsTargets results;
  results.add("--bodyfile", options.bodyFile);
  results.add("--json", options.jsonFile);
  results.add("--map", options.mapFile);
  results.add("--dfxml", options.dfxmlFile);
  results.add("--sqlite", options.sqliteFile);
  const std::string clash = results.clashAmongThem();
  if (!clash.empty()) {
    std::cerr << "bfsscan: " << clash << " (see bfsscan --help)\n";
    return kExitUsage;
  }
  // Standard input, a pipe, a compressed image or an archive is read as a
  // stream of images; anything else is opened as a file.
  const std::unique_ptr<StreamInput> stream =
      StreamInput::open(options.image, options.format, options.streamFormat, options.maxImage,
                        options.keepGoing);
  OpenedImage opened;
  if (!stream) opened = openForScan(options.image, options.format);
  const std::string onImage = results.clashWithImage(opened.image.get(), options.image);
  if (!onImage.empty()) {
    std::cerr << "bfsscan: " << onImage << "\n";
    return kExitUsage;
  }

  const bool reportToStdout =
      options.bodyFile != "-" && options.jsonFile != "-" && options.mapFile != "-" &&
      options.dfxmlFile != "-";
  try {
    CommandSinks sinks(terminal);
    sinks.add(std::make_unique<TextReport>(terminal, options.image, reportToStdout));
    sinks.add(std::make_unique<Progress>(terminal));  // drawn after the length line
    if (!options.bodyFile.empty()) {
      const bool md5 =
          std::find(options.hashes.begin(), options.hashes.end(), "md5") != options.hashes.end();
      sinks.add(std::make_unique<BodyFileSink>(
          std::make_unique<ResultsFile>(options.bodyFile, options.image, &terminal), md5));
    }
    if (!options.jsonFile.empty()) {
      sinks.add(std::make_unique<JsonLinesSink>(
          std::make_unique<ResultsFile>(options.jsonFile, options.image, &terminal),
          BFSSCAN_VERSION));
    }
    if (!options.sqliteFile.empty()) {
      sinks.add(std::make_unique<CaseDatabaseSink>(options.sqliteFile, options.image,
                                                   BFSSCAN_VERSION));
    }
    if (!options.dfxmlFile.empty()) {
      std::string commandLine;
      for (int i = 0; i < argc; ++i) commandLine += (i ? " " : "") + std::string(argv[i]);
      sinks.add(std::make_unique<DfxmlSink>(
          std::make_unique<ResultsFile>(options.dfxmlFile, options.image, &terminal), BFSSCAN_VERSION,
          commandLine, isoTime(static_cast<int64_t>(std::time(nullptr)))));
    }
    if (!options.mapFile.empty()) {
      auto map = std::make_unique<MapSink>(options.mapFile, options.image, &terminal);
      map->open();  // a map that cannot be written is known before the scan
      sinks.add(std::move(map));
    }
    auto summary = std::make_unique<TerminalSummary>(terminal);
    summary->watch(&sinks);
    sinks.add(std::move(summary));  // last: after every other sink has ended
    ScanRequest request = scanRequest(options);
    request.resultsFiles = &results;
    if (!stream) {
      return scanImage(opened.image.get(), request, sinks, &stop,
                       opened.failure ? &*opened.failure : nullptr)
          .status;
    }
    // Each image of the stream in turn; the status is the worst of theirs.
    int worst = kExitSuccess;
    request.stream = stream.get();
    while (stream->next(&request.image)) {
      const int status = scanImage(nullptr, request, sinks, &stop).status;
      worst = std::max(worst, status);
      if (status > kExitInconsistent) break;  // interrupted
    }
    return worst;
  } catch (const OutputFailure& failure) {
    // a results file or map that cannot be created
    terminal.err() << "bfsscan: " << failure.what() << std::endl;
    return kExitIncomplete;
  }
}
