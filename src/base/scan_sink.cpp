// Fan-out of scan events to several sinks.
#include "scan_sink.h"

#include <exception>

void emitProblem(ScanSink& sink, ProblemEvent::What what, const std::string& text, int64_t fs,
                 int64_t slot, uint64_t offset) {
  ProblemEvent e;
  e.what = what;
  e.fs = fs;
  e.slot = slot;
  e.offset = offset;
  e.text = text;
  sink.problem(e);
}

void SinkList::start(const std::string& path) {
  for (auto& s : sinks_) s->start(path);
}
void SinkList::image(const ImageEvent& e) {
  for (auto& s : sinks_) s->image(e);
}
void SinkList::hit(const HitEvent& e) {
  for (auto& s : sinks_) s->hit(e);
}
void SinkList::fileSystem(const FileSystemEvent& e) {
  for (auto& s : sinks_) s->fileSystem(e);
}
void SinkList::inode(const InodeEvent& e) {
  for (auto& s : sinks_) s->inode(e);
}
void SinkList::dirent(const DirentEvent& e) {
  for (auto& s : sinks_) s->dirent(e);
}
void SinkList::directory(const DirectoryEvent& e) {
  for (auto& s : sinks_) s->directory(e);
}
void SinkList::file(const FileEvent& e) {
  for (auto& s : sinks_) s->file(e);
}
void SinkList::problem(const ProblemEvent& e) {
  for (auto& s : sinks_) s->problem(e);
}
void SinkList::dataArea(const DataAreaEvent& e) {
  for (auto& s : sinks_) s->dataArea(e);
}
void SinkList::unallocated(const UnallocatedEvent& e) {
  for (auto& s : sinks_) s->unallocated(e);
}
void SinkList::deleted(const DeletedEvent& e) {
  for (auto& s : sinks_) s->deleted(e);
}
void SinkList::deletedName(const DeletedNameEvent& e) {
  for (auto& s : sinks_) s->deletedName(e);
}
void SinkList::end(const EndEvent& e) {
  // Every sink ends, even after one of them failed to.
  std::exception_ptr failure;
  for (auto& s : sinks_) {
    try {
      s->end(e);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void SinkList::progress(int64_t position, uint64_t fileSystems) {
  for (auto& s : sinks_) s->progress(position, fileSystems);
}

void SinkList::decoding(uint64_t consumed, uint64_t total) {
  for (auto& s : sinks_) s->decoding(consumed, total);
}

bool SinkList::lostOutput() const {
  bool lost = false;
  for (const auto& s : sinks_) lost = s->lostOutput() || lost;
  return lost;
}

void SinkList::orphan(const OrphanEvent& e) {
  for (auto& s : sinks_) s->orphan(e);
}
