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
#include "inode_command.h"
#include "html_report.h"
#include "json_lines.h"
#include "list_sink.h"
#include "options.h"
#include "output_failure.h"
#include "progress.h"
#include "results_folder.h"
#include "results_file.h"
#include "results_targets.h"
#include "scan.h"
#include "scan_input.h"
#include "scan_sink.h"
#include "signals.h"
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
  if (options.list) {  // nothing written, no file's bytes read
    config.dryRun = true;
    config.listOnly = true;
    config.unallocated = false;
  }
  if (options.offsetGiven) config.offset = options.offset;
  config.name = options.name;
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
  if (options.cat || options.stat) return runInodeCommand(options, terminal, &stop);

  // Every results file is checked against the others and against every file
  // of the image before any of them is created or truncated.
  ResultsTargets results;
  results.add("--bodyfile", options.bodyFile);
  results.add("--json", options.jsonFile);
  results.add("--map", options.mapFile);
  results.add("--dfxml", options.dfxmlFile);
  results.add("--html", options.htmlFile);
  results.add("--sqlite", options.sqliteFile);
  const std::string clash = results.clashAmongThem();
  if (!clash.empty()) {
    std::cerr << "bfsscan: " << clash << " (see bfsscan --help)\n";
    return kExitUsage;
  }
  // Standard output under another name is written as "-".
  for (std::string* path : {&options.bodyFile, &options.jsonFile, &options.mapFile,
                            &options.dfxmlFile, &options.htmlFile}) {
    if (results.isStandardOutput(*path)) *path = "-";
  }
  // Standard input, a pipe, a compressed image or an archive is read as a
  // stream of images; anything else is opened as a file.
  InputRequest source;
  source.path = options.image;
  source.format = options.format;
  source.streamFormat = options.streamFormat;
  source.maxImage = options.maxImageGiven ? options.maxImage : kMaxImageByInput;
  source.keepGoing = options.keepGoing;
  source.stop = &stop;
  ScanInput input(source);
  std::string onImage = results.clashWithImage(input.file(), options.image);
  if (onImage.empty() && input.mayGiveSeveral()) onImage = results.clashWithMemberMaps();
  if (!onImage.empty()) {
    std::cerr << "bfsscan: " << onImage << "\n";
    return kExitUsage;
  }

  const bool reportToStdout =
      options.bodyFile != "-" && options.jsonFile != "-" && options.mapFile != "-" &&
      options.dfxmlFile != "-" && options.htmlFile != "-" && !options.list;
  makeFolderForResults(options);
  std::string commandLine;
  for (int i = 0; i < argc; ++i) commandLine += (i ? " " : "") + std::string(argv[i]);
  try {
    CommandSinks sinks(terminal);
    sinks.add(std::make_unique<TextReport>(terminal, options.image, reportToStdout));
    sinks.add(std::make_unique<Progress>(terminal));  // drawn after the length line
    if (options.list) sinks.add(std::make_unique<ListSink>(terminal));
    if (!options.bodyFile.empty()) {
      const bool md5 =
          std::find(options.hashes.begin(), options.hashes.end(), "md5") != options.hashes.end();
      sinks.add(std::make_unique<BodyFileSink>(
          std::make_unique<ResultsFile>(options.bodyFile, options.image, &terminal), md5));
    }
    if (!options.jsonFile.empty()) {
      auto json = std::make_unique<JsonLinesSink>(
          std::make_unique<ResultsFile>(options.jsonFile, options.image, &terminal),
          BFSSCAN_VERSION);
      json->setCommandLine(commandLine);
      sinks.add(std::move(json));
    }
    if (!options.sqliteFile.empty()) {
      auto db = std::make_unique<CaseDatabaseSink>(options.sqliteFile, options.image,
                                                   BFSSCAN_VERSION);
      db->setCommandLine(commandLine);  // the records as --json has them
      sinks.add(std::move(db));
    }
    if (!options.dfxmlFile.empty()) {
      auto dfxml = std::make_unique<DfxmlSink>(
          std::make_unique<ResultsFile>(options.dfxmlFile, options.image, &terminal), BFSSCAN_VERSION,
          commandLine, isoTime(static_cast<int64_t>(std::time(nullptr))));
      dfxml->setName(options.name);
      sinks.add(std::move(dfxml));
    }
    if (!options.mapFile.empty()) {
      auto map = std::make_unique<MapSink>(options.mapFile, options.image, &terminal);
      map->open();  // a map that cannot be written is known before the scan
      sinks.add(std::move(map));
    }
    if (!options.htmlFile.empty()) {
      HtmlReportSetup setup;
      setup.image = options.image;
      setup.directory = options.directory;
      setup.dryRun = options.dryRun;
      setup.hashes = options.hashes;
      setup.version = BFSSCAN_VERSION;
      for (int i = 0; i < argc; ++i) setup.commandLine += (i ? " " : "") + std::string(argv[i]);
      setup.startTime = isoTime(static_cast<int64_t>(std::time(nullptr)));
      auto html = std::make_unique<HtmlReportSink>(options.htmlFile, std::move(setup), &terminal);
      html->open();  // a page that cannot be written is known before the scan
      sinks.add(std::move(html));
    }
    auto summary = std::make_unique<TerminalSummary>(terminal);
    summary->watch(&sinks);
    sinks.add(std::move(summary));  // last: after every other sink has ended
    ScanRequest request = scanRequest(options);
    request.resultsFiles = &results;
    // Each image of a stream in turn; the status is the worst of theirs.
    return input.scan(request, sinks, &stop).status;
  } catch (const OutputFailure& failure) {
    // a results file or map that cannot be created
    terminal.err() << "bfsscan: " << failure.what() << std::endl;
    return kExitIncomplete;
  }
}
