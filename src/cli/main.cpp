// bfsscan: finds every BFS file system in a disk image, reports it and
// copies its files out. See exit_status.h for what the exit status means.
#include <algorithm>
#include <ctime>
#include <iostream>
#include <memory>

#include "body_file.h"
#include "dfxml_sink.h"
#include "exit_status.h"
#include "json_lines.h"
#include "options.h"
#include "output_failure.h"
#include "results_file.h"
#include "scan.h"
#include "scan_sink.h"
#include "signals.h"
#include "svg_map.h"
#include "terminal_summary.h"
#include "text_report.h"

#ifndef BFSSCAN_VERSION
#define BFSSCAN_VERSION "unknown"
#endif

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
  installSignalHandlers();

  const bool reportToStdout =
      options.bodyFile != "-" && options.jsonFile != "-" && options.mapFile != "-" &&
      options.dfxmlFile != "-";
  try {
    SinkList sinks;
    sinks.add(std::make_unique<TextReport>(options.image, reportToStdout));
    if (!options.bodyFile.empty()) {
      const bool md5 =
          std::find(options.hashes.begin(), options.hashes.end(), "md5") != options.hashes.end();
      sinks.add(std::make_unique<BodyFileSink>(
          std::make_unique<ResultsFile>(options.bodyFile, options.image), md5));
    }
    if (!options.jsonFile.empty()) {
      sinks.add(std::make_unique<JsonLinesSink>(
          std::make_unique<ResultsFile>(options.jsonFile, options.image), BFSSCAN_VERSION));
    }
    if (!options.dfxmlFile.empty()) {
      std::string commandLine;
      for (int i = 0; i < argc; ++i) commandLine += (i ? " " : "") + std::string(argv[i]);
      sinks.add(std::make_unique<DfxmlSink>(
          std::make_unique<ResultsFile>(options.dfxmlFile, options.image), BFSSCAN_VERSION,
          commandLine, isoTime(static_cast<int64_t>(std::time(nullptr)))));
    }
    if (!options.mapFile.empty()) {
      auto map = std::make_unique<MapSink>(options.mapFile, options.image);
      map->open();  // a map that cannot be written is known before the scan
      sinks.add(std::move(map));
    }
    auto summary = std::make_unique<TerminalSummary>();
    summary->watch(&sinks);
    sinks.add(std::move(summary));  // last: after every other sink has ended
    return do_scan(options, sinks);
  } catch (const OutputFailure& failure) {
    // a results file or map that cannot be created, or a results file not closed at the end
    std::cerr << "bfsscan: " << failure.what() << std::endl;
    return kExitIncomplete;
  }
}
