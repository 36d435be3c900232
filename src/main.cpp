// bfsscan: finds every BFS file system in a disk image, reports it and
// copies its files out. See exit_status.h for what the exit status means.
#include <iostream>
#include <memory>

#include "exit_status.h"
#include "options.h"
#include "scan.h"
#include "scan_sink.h"
#include "signals.h"
#include "text_report.h"

#ifndef BFSSCAN_VERSION
#define BFSSCAN_VERSION "unknown"
#endif

int main(int argc, char** argv) {
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
      options.bodyFile != "-" && options.jsonFile != "-" && options.mapFile != "-";
  SinkList sinks;
  sinks.add(std::make_unique<TextReport>(options.image, reportToStdout));
  return do_scan(options, sinks);
}
