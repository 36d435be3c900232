#include "batch_bindings.h"

#include <pybind11/stl.h>

#include <sstream>

#include "case_database.h"
#include "image_job.h"
#include "output_failure.h"

namespace py = pybind11;

namespace {

// Adds the records (JSON Lines text) of the evidence id, read from path.
void addEvidence(CaseDatabase& db, const std::string& id, const std::string& path,
                 const std::string& records) {
  db.startEvidence(id, path);
  std::istringstream lines(records);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) db.addRecord(line);
  }
}

}  // namespace

void addBatchBindings(py::module_& m) {
  py::register_exception<OutputFailure>(m, "OutputFailure", PyExc_OSError);

  m.def("known_format", &knownFormat, py::arg("name"));
  m.def(
      "run_image",
      [](const std::string& image, const std::string& format, const std::string& folder,
         const std::string& stemOf, bool dryRun, bool keepGoing, bool preserve,
         bool unallocated, bool deleted, const std::vector<std::string>& hashes,
         std::optional<uint64_t> maxOutput, bool dfxml, bool map) {
        ImageJob job;
        job.image = image;
        job.format = format;
        job.folder = folder;
        job.stemOf = stemOf;
        job.dryRun = dryRun;
        job.keepGoing = keepGoing;
        job.preserve = preserve;
        job.unallocated = unallocated;
        job.deleted = deleted;
        job.hashes = hashes;
        job.maxOutput = maxOutput;
        job.dfxml = dfxml;
        job.map = map;
        ImageJobResult result;
        {
          py::gil_scoped_release release;  // the worker's other threads go on
          result = runImageJob(job, nullptr);
        }
        return py::make_tuple(result.status, py::str(result.records));
      },
      py::arg("image"), py::arg("format"), py::arg("folder"), py::arg("stem_of"),
      py::arg("dry_run"), py::arg("keep_going"), py::arg("preserve"), py::arg("unallocated"),
      py::arg("deleted"), py::arg("hashes"), py::arg("max_output"), py::arg("dfxml"),
      py::arg("map"),
      "Scans image as the command does into folder: report.txt, problems.txt, "
      "records.jsonl, the extraction directories; returns (status, records).");

  py::class_<CaseDatabase>(m, "CaseDatabase", "The case database's one writer.")
      .def(py::init<const std::string&>(), py::arg("path"))
      .def(
          "add",
          [](CaseDatabase& db, const std::string& id, const std::string& path,
             const std::string& records) {
            py::gil_scoped_release release;
            addEvidence(db, id, path, records);
          },
          py::arg("evidence_id"), py::arg("image_path"), py::arg("records"),
          "Adds (or replaces) the evidence's records, in the open transaction.")
      .def("commit", [](CaseDatabase& db) {
            py::gil_scoped_release release;
            db.commit();
          })
      .def("rollback", &CaseDatabase::rollback);

  m.def(
      "case_add",
      [](const std::string& dbPath, const std::string& id, const std::string& path,
         const std::string& records) {
        py::gil_scoped_release release;
        CaseDatabase db(dbPath);
        addEvidence(db, id, path, records);
        db.commit();
      },
      py::arg("db_path"), py::arg("evidence_id"), py::arg("image_path"), py::arg("records"),
      "Adds (or replaces) one evidence's records in the case database at db_path.");
}
