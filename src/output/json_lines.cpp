// Writing scan events as JSON Lines.
#include "json_lines.h"

#include <nlohmann/json.hpp>

#include "escape.h"
#include "json_record_extras.h"
#include "sys/fs/bfs.h"

namespace {

using Json = nlohmann::ordered_json;

Json record(const char* type) {
  Json j;
  j["type"] = type;
  return j;
}

// Octal with a leading 0, a zero as a bare 0: "0100644".
std::string octal(uint32_t value) {
  if (value == 0) return "0";
  std::string digits;
  for (; value != 0; value >>= 3) digits.insert(digits.begin(), static_cast<char>('0' + (value & 7)));
  return "0" + digits;
}

const char* problemWord(ProblemEvent::What what) {
  switch (what) {
    case ProblemEvent::kReadError: return "read-error";
    case ProblemEvent::kShrunk: return "shrunk";
    case ProblemEvent::kTruncated: return "truncated";
    case ProblemEvent::kInconsistent: return "inconsistent";
    case ProblemEvent::kNoRoot: return "no-root";
    case ProblemEvent::kSkipped: return "skipped";
    case ProblemEvent::kLost: return "lost";
    case ProblemEvent::kUnreadable: return "unreadable";
    case ProblemEvent::kOutput: return "output";
    case ProblemEvent::kPreserve: return "preserve";
    case ProblemEvent::kBudget: return "budget";
    case ProblemEvent::kInterrupted: return "interrupted";
    case ProblemEvent::kReport: return "report";
    case ProblemEvent::kSetUserIdRoot: return "setuid-root";
  }
  return "other";
}

const char* fileStatusWord(FileEvent::Status status) {
  switch (status) {
    case FileEvent::kExtracted: return "extracted";
    case FileEvent::kListed: return "listed";
    case FileEvent::kSkipped: return "skipped";
    case FileEvent::kFailed: return "failed";
    case FileEvent::kPending:
    case FileEvent::kDirectory: break;
  }
  return nullptr;
}

// The extent of a deleted candidate or an orphan.
void putExtent(Json& j, uint64_t imageOffset, uint64_t length, uint32_t firstBlock,
               uint32_t lastBlock) {
  j["image_offset"] = imageOffset;
  j["length"] = length;
  j["first_block"] = firstBlock;
  j["last_block"] = lastBlock;
}

// The attributes of a deleted candidate or an orphan.
void putAttributes(Json& j, uint32_t mode, uint32_t uid, uint32_t gid, uint32_t nlink,
                   uint32_t atime, uint32_t mtime, uint32_t ctime) {
  j["mode"] = octal(mode);
  j["uid"] = uid;
  j["gid"] = gid;
  j["nlink"] = nlink;
  j["atime"] = atime;
  j["mtime"] = mtime;
  j["ctime"] = ctime;
}

// Names and paths are put in records as their bytes: JSON's own escapes
// cover control characters, a byte that is not valid UTF-8 becomes U+FFFD
// (the exact bytes are in the "_hex" field beside it).
void write(JsonLinesSink::Lines& out, const Json& j) {
  out.consumer(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

}  // namespace

JsonLinesSink::JsonLinesSink(std::unique_ptr<ResultsFile> out, std::string version)
    : out_(std::make_unique<Lines>()), version_(std::move(version)) {
  ResultsFile* file = out.get();
  out_->file = std::move(out);
  out_->consumer = [file](const std::string& line) { file->writeLine(line); };
}

JsonLinesSink::JsonLinesSink(LineConsumer lines, std::string version)
    : out_(std::make_unique<Lines>()), version_(std::move(version)) {
  out_->consumer = std::move(lines);
}

void JsonLinesSink::image(const ImageEvent& e) {
  Json j = record("image");
  j["path"] = e.path;
  j["path_hex"] = hexBytes(e.path);
  j["size"] = e.length;
  j["sectors"] = e.length / BFS_BSIZE;
  j["format"] = e.format;
  j["tool"] = "bfsscan";
  j["version"] = version_;
  addImageProvenance(j, e, commandLine_);
  storedDigest_ = !e.storedMd5.empty() || !e.storedSha1.empty();
  write(*out_, j);
}

void JsonLinesSink::hit(const HitEvent& e) {
  Json j = record("hit");
  j["offset"] = e.offset;
  j["start"] = e.start;
  j["end"] = e.end;
  j["accepted"] = e.verdict == HitEvent::kAccepted;
  if (e.verdict == HitEvent::kDiscarded) {
    j["reason"] = "end >= start";
  } else if (e.verdict == HitEvent::kCountMismatch) {
    j["reason"] = "inode counts differ";
    j["inodes"] = e.nr;
    j["inodes_by_division"] = e.nr2;
  }
  write(*out_, j);
}

void JsonLinesSink::fileSystem(const FileSystemEvent& e) {
  Json j = record("fs");
  j["offset"] = e.base;
  j["start"] = e.start;
  j["end"] = e.end;
  j["inodes"] = e.slotCount;
  addParent(j, e);
  write(*out_, j);
}

void JsonLinesSink::inode(const InodeEvent& e) {
  const bfsscan::Inode& d = e.inode;
  Json j = record("inode");
  j["fs"] = e.fs;
  j["slot"] = e.slot;
  j["ino"] = d.ino;
  if (!e.broken.empty()) j["broken"] = e.broken;
  if (e.stage == InodeEvent::kBadExtent) {
    j["damaged"] = "extent";
    write(*out_, j);
    return;
  }
  const uint32_t first = d.firstByte();  // as the file system computes it
  if (e.stage == InodeEvent::kBadType) {
    j["damaged"] = "type";
  } else {
    j["file_type"] = d.isDirectory() ? "dir" : "reg";
    j["mode"] = octal(d.mode);
    j["uid"] = d.uid;
    j["gid"] = d.gid;
    j["nlink"] = d.nlink;
    j["atime"] = d.atime;
    j["mtime"] = d.mtime;
    j["ctime"] = d.ctime;
  }
  j["first_block"] = d.firstBlock;
  j["last_block"] = d.lastBlock;
  j["image_offset"] = static_cast<uint64_t>(e.fs) + first;
  j["length"] = d.length();
  write(*out_, j);
}

void JsonLinesSink::dirent(const DirentEvent& e) {
  const std::string& name = e.name;
  Json j = record("dirent");
  j["fs"] = e.fs;
  j["ino"] = e.ino;
  j["name"] = name;
  j["name_hex"] = hexBytes(name);
  write(*out_, j);
}

void JsonLinesSink::file(const FileEvent& e) {
  const char* status = fileStatusWord(e.status);
  if (status == nullptr) return;
  Json j = record("file");
  j["fs"] = e.fs;
  j["slot"] = e.slot;
  j["ino"] = e.inode.ino;
  j["name"] = e.name;
  j["name_hex"] = hexBytes(e.name);
  const std::string path = e.dir + "/" + e.name;
  j["path"] = e.name.empty() ? Json() : Json(path);
  j["path_hex"] = e.name.empty() ? Json() : Json(hexBytes(path));
  j["image_offset"] = e.imageOffset;
  j["length"] = e.length;
  j["status"] = status;
  for (const Digest& d : e.digests) j[d.algorithm] = d.hex.empty() ? Json() : Json(d.hex);
  write(*out_, j);
}

void JsonLinesSink::problem(const ProblemEvent& e) {
  Json j = record("problem");
  if (e.fs >= 0) j["fs"] = e.fs;
  if (e.slot >= 0) j["slot"] = e.slot;
  if (e.offset != 0) j["offset"] = e.offset;
  j["what"] = problemWord(e.what);
  j["text"] = e.text;
  write(*out_, j);
}

void JsonLinesSink::dataArea(const DataAreaEvent& e) {
  Json j = record("data_area");
  j["fs"] = e.fs;
  j["image_offset"] = e.imageOffset;
  j["length"] = e.length;
  j["overlapping_extents"] = e.overlap;
  j["extents_outside"] = e.outside;
  write(*out_, j);
}

void JsonLinesSink::unallocated(const UnallocatedEvent& e) {
  Json j = record("unallocated");
  j["fs"] = e.fs;
  j["kind"] = e.kind == UnallocatedEvent::kFree ? "free" : "slack";
  if (e.slot >= 0) j["slot"] = e.slot;
  j["image_offset"] = e.imageOffset;
  j["length"] = e.length;
  j["non_zero"] = e.nonZero;
  if (!e.path.empty()) {
    j["path"] = e.path;
    j["path_hex"] = hexBytes(e.path);
  }
  for (const Digest& d : e.digests) j[d.algorithm] = d.hex.empty() ? Json() : Json(d.hex);
  write(*out_, j);
}

void JsonLinesSink::deleted(const DeletedEvent& e) {
  Json j = record("deleted");
  j["fs"] = e.fs;
  j["slot"] = e.slot;
  putExtent(j, e.imageOffset, e.length, e.firstBlock, e.lastBlock);
  putAttributes(j, e.mode, e.uid, e.gid, e.nlink, e.atime, e.mtime, e.ctime);
  j["overlaps_live_file"] = e.overlapsLive;
  if (!e.path.empty()) {
    j["path"] = e.path;
    j["path_hex"] = hexBytes(e.path);
  }
  for (const Digest& d : e.digests) j[d.algorithm] = d.hex.empty() ? Json() : Json(d.hex);
  write(*out_, j);
}

void JsonLinesSink::deletedName(const DeletedNameEvent& e) {
  Json j = record("deleted_name");
  j["fs"] = e.fs;
  j["entry"] = e.entry;
  j["name"] = e.name;
  j["name_hex"] = hexBytes(e.name);
  write(*out_, j);
}

void JsonLinesSink::end(const EndEvent& e) {
  Json j = record("end");
  j["status"] = e.status;
  j["reached_end"] = e.reachedEnd;
  j["file_systems"] = e.fileSystems;
  if (e.dryRun) {
    j["dry_run"] = true;
    j["files_listed"] = e.filesExtracted;
  } else {
    j["files_extracted"] = e.filesExtracted;
  }
  j["files_skipped"] = e.filesSkipped;
  j["files_lost"] = e.filesLost;
  j[e.dryRun ? "bytes_listed" : "bytes_written"] = e.bytesWritten;
  addRunRecord(j, e, storedDigest_);
  write(*out_, j);
  if (e.lastImage && out_->file) out_->file->close();
}

void JsonLinesSink::orphan(const OrphanEvent& e) {
  const char* status = fileStatusWord(e.status);
  if (status == nullptr) return;
  const bfsscan::Inode& d = e.inode;
  Json j = record("orphan");
  j["fs"] = e.fs;
  j["slot"] = e.slot;
  j["ino"] = d.ino;
  putExtent(j, e.imageOffset, e.length, d.firstBlock, d.lastBlock);
  putAttributes(j, d.mode, d.uid, d.gid, d.nlink, d.atime, d.mtime, d.ctime);
  j["path"] = e.path;
  j["path_hex"] = hexBytes(e.path);
  j["status"] = status;
  for (const Digest& h : e.digests) j[h.algorithm] = h.hex.empty() ? Json() : Json(h.hex);
  write(*out_, j);
}
