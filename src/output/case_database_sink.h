// The scan into a case database (--sqlite=FILE): the JSON Lines records of
// the run, written as the case database's rows for the image named on the
// command line (its evidence id is its path as given). The run is one
// transaction, committed after its last image ends however it ends, so
// that the database never holds half an image.
#ifndef BFSSCAN_CASE_DATABASE_SINK_H
#define BFSSCAN_CASE_DATABASE_SINK_H

#include <memory>
#include <string>

#include "case_database.h"
#include "json_lines.h"

class CaseDatabaseSink : public JsonLinesSink {
 public:
  // Opens (or creates) the database at path: throws OutputFailure when it
  // cannot, before the scan.
  CaseDatabaseSink(const std::string& path, const std::string& image, std::string version);
  // Commits after the last image; throws OutputFailure when a row could not
  // be written.
  void end(const EndEvent& e) override;

 private:
  struct Writer;
  CaseDatabaseSink(std::shared_ptr<Writer> writer, std::string version);
  std::shared_ptr<Writer> writer_;  // shared with the line consumer
};

#endif  // BFSSCAN_CASE_DATABASE_SINK_H
