#include "case_database_sink.h"

#include "output_failure.h"

struct CaseDatabaseSink::Writer {
  Writer(const std::string& path, const std::string& image) : db(path), image(image) {}
  CaseDatabase db;
  std::string image;
  bool started = false;
  std::string failure;  // the first write that failed; later records are dropped

  void add(const std::string& line) {
    if (!failure.empty()) return;
    try {
      if (!started) db.startEvidence(image, image);
      started = true;
      db.addRecord(line);
    } catch (const OutputFailure& f) {
      failure = f.what();
    }
  }
};

CaseDatabaseSink::CaseDatabaseSink(const std::string& path, const std::string& image,
                                   std::string version)
    : CaseDatabaseSink(std::make_shared<Writer>(path, image), std::move(version)) {}

CaseDatabaseSink::CaseDatabaseSink(std::shared_ptr<Writer> writer, std::string version)
    : JsonLinesSink([writer](const std::string& line) { writer->add(line); }, std::move(version)),
      writer_(std::move(writer)) {}

void CaseDatabaseSink::end(const EndEvent& e) {
  JsonLinesSink::end(e);
  if (!e.lastImage) return;
  Writer& w = *writer_;
  if (w.failure.empty()) {
    try {
      w.db.commit();
      return;
    } catch (const OutputFailure& f) {
      w.failure = f.what();
    }
  }
  w.db.rollback();
  throw OutputFailure(w.failure);
}
