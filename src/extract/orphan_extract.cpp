// The orphans of a salvaged file system (keep-going): files in use whose
// extent is sound but that no sound directory entry names (their entry
// broken, the root directory unreadable or missing, or no entry at all).
// Each is copied as ino-N (N its slot) into STEM-OFFSET/.bfsscan-orphans/,
// a name longer than 14 bytes, so no file of the format can take it. The
// copy goes through the output tree and the budget like any file's.
#include "extract.h"
#include "stop.h"

namespace {

const char kOrphanDir[] = ".bfsscan-orphans";

}  // namespace

void Extractor::extractOrphans(int64_t base, const InodeTable& inodes, const NameTable& names) {
  subdirs_.clear();
  const std::string dirName = directoryName(base);
  inodes.forEachInUse([&](const InodeTable::Entry& entry) {
    checkStop(stop_);
    const bfsDirent& inode = entry.inode;
    if (inode.isDirectory() || !names.lookup(inode.d_ino).empty()) return;
    OrphanEvent ev;
    describeInode(ev, base, entry, dirName);
    const std::string name = "ino-" + std::to_string(entry.slot);
    ev.path = dirName + "/" + kOrphanDir + "/" + name;
    extractOrphan(base, name, ev);
  });
  subdirs_.clear();
}

void Extractor::extractOrphan(int64_t base, const std::string& name, OrphanEvent& ev) {
  ++tally_.orphans;
  sink_.orphan(ev);  // the copying line
  auto failed = [&](FileEvent::Status status) {
    ev.status = status;
    for (const std::string& alg : options_.hashes) ev.digests.push_back({alg, ""});
    sink_.orphan(ev);
  };
  const uint64_t imageLength = static_cast<uint64_t>(image_.length());
  if (ev.imageOffset > imageLength || ev.length > imageLength - ev.imageOffset) {
    ++tally_.unreadable;
    tally_.incomplete = true;
    problem(ProblemEvent::kTruncated, base, ev.slot,
            "bfsscan: file system at " + std::to_string(base) +
                " is truncated: data of inode " + std::to_string(ev.slot) +
                " runs past the end of the image (" + std::to_string(imageLength) + " bytes)");
    failed(FileEvent::kFailed);
    return;
  }
  if (options_.listOnly) {  // listed without reading
    tally_.bytesWritten += ev.length;
    ++tally_.extracted;
    ev.status = FileEvent::kListed;
    sink_.orphan(ev);
    return;
  }
  FileHasher hasher(options_.hashes);
  const uint64_t unreadable = tally_.unreadable;
  const std::string written =
      writeRun(base, kOrphanDir, name, ev.imageOffset, ev.length,
               "data of inode " + std::to_string(ev.slot), &hasher);
  if (written.empty()) {
    if (tally_.unreadable == unreadable) {  // not written: the budget is spent
      ++tally_.skipped;
      failed(FileEvent::kSkipped);
    } else {
      failed(FileEvent::kFailed);
    }
    return;
  }
  ++tally_.extracted;
  ev.status = options_.dryRun ? FileEvent::kListed : FileEvent::kExtracted;
  ev.digests = hasher.finish();
  sink_.orphan(ev);
}
