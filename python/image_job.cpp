#include "image_job.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "dfxml_sink.h"
#include "hashing.h"
#include "json_lines.h"
#include "output_failure.h"
#include "results_file.h"
#include "scan.h"
#include "stream_input.h"
#include "html_report.h"
#include "scan_input.h"
#include "svg_map.h"
#include "text_report.h"

bool knownFormat(const std::string& name) {
  ImageFormat format;
  std::string streamFormat;
  return parseInputFormat(name, &format, &streamFormat);
}

ImageJobResult runImageJob(const ImageJob& job, const bfsscan::StopToken* stop) {
  ScanRequest request;
  request.image = job.image;
  std::string streamFormat;
  if (!parseInputFormat(job.format, &request.format, &streamFormat)) {
    throw std::invalid_argument("unknown image format '" + job.format + "'");
  }
  bfsscan::ScanConfig& config = request.config;
  config.directory = job.folder;
  config.stemOf = job.stemOf;
  config.dryRun = job.dryRun;
  config.keepGoing = job.keepGoing;
  config.preserve = job.preserve;
  config.maxOutput = job.maxOutput;
  config.unallocated = job.unallocated;
  config.deleted = job.deleted;
  if (!job.hashes.empty()) {
    std::string list;
    for (const std::string& h : job.hashes) list += (list.empty() ? "" : ",") + h;
    if (!parseHashList(list, &config.hashes)) {
      throw std::invalid_argument("hashes are md5, sha1 or sha256, each at most once, not '" +
                                  list + "'");
    }
  }

  const std::string folder = job.folder + "/";
  std::ofstream report(folder + "report.txt", std::ios::binary);
  std::ofstream problems(folder + "problems.txt", std::ios::binary);
  std::ofstream recordsFile(folder + "records.jsonl", std::ios::binary);
  if (!report || !problems || !recordsFile) {
    throw OutputFailure("cannot write in \"" + job.folder + "\"");
  }
  StreamConsole console(report, problems);
  ImageJobResult result;
  SinkList sinks;
  sinks.add(std::make_unique<TextReport>(console, job.image));
  sinks.add(std::make_unique<JsonLinesSink>(
      [&](const std::string& line) {
        recordsFile << line << '\n';
        result.records += line;
        result.records += '\n';
      },
      BFSSCAN_VERSION));
  try {
    if (job.dfxml) {
      sinks.add(std::make_unique<DfxmlSink>(
          std::make_unique<ResultsFile>(folder + "records.dfxml", job.image, &console),
          BFSSCAN_VERSION, "bfsscan-batch " + job.image,
          isoTime(static_cast<int64_t>(std::time(nullptr)))));
    }
    if (job.map) {
      auto map = std::make_unique<MapSink>(folder + "map.svg", job.image, &console);
      map->open();
      sinks.add(std::move(map));
    }
    {
      HtmlReportSetup setup;
      setup.image = job.image;
      setup.directory = job.folder;
      setup.dryRun = job.dryRun;
      setup.hashes = job.hashes;
      setup.version = BFSSCAN_VERSION;
      setup.commandLine = "bfsscan-batch " + job.image;
      setup.startTime = isoTime(static_cast<int64_t>(std::time(nullptr)));
      auto html = std::make_unique<HtmlReportSink>(folder + "report.html", std::move(setup),
                                                   &console);
      html->open();
      sinks.add(std::move(html));
    }
    // The one opener of every door: each image of a stream in turn, the
    // status the worst of theirs.
    InputRequest source;
    source.path = job.image;
    source.format = request.format;
    source.streamFormat = streamFormat;
    source.keepGoing = job.keepGoing;
    source.stop = stop;
    ScanInput input(source);
    result.status = input.scan(request, sinks, stop).status;
  } catch (const OutputFailure& failure) {
    problems << "bfsscan: " << failure.what() << '\n';
    result.status = std::max(result.status, static_cast<int>(kExitIncomplete));
  }
  recordsFile.flush();
  report.flush();
  problems.flush();
  if (!recordsFile || !report || !problems) {
    throw OutputFailure("cannot write in \"" + job.folder + "\"");
  }
  return result;
}
