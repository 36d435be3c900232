// Writing scan events as JSON Lines.
#include "json_lines.h"

#include <nlohmann/json.hpp>

#include "escape.h"

namespace {

using Json = nlohmann::ordered_json;

Json record(const char* type) {
  Json j;
  j["type"] = type;
  return j;
}

// A field of a packed on-disk record, copied out: the JSON library takes
// its arguments by reference, which a misaligned field cannot give.
uint64_t field(uint64_t value) { return value; }

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

// Every string put in a record is ASCII; a stray byte that is not valid
// UTF-8 is replaced rather than allowed to end the run.
void write(ResultsFile& out, const Json& j) {
  out.writeLine(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

}  // namespace

JsonLinesSink::JsonLinesSink(std::unique_ptr<ResultsFile> out, std::string version)
    : out_(std::move(out)), version_(std::move(version)) {}

void JsonLinesSink::image(const ImageEvent& e) {
  Json j = record("image");
  j["path"] = escapeBodyName(e.path);
  j["path_hex"] = hexBytes(e.path);
  j["size"] = e.length;
  j["sectors"] = e.length / BFS_BSIZE;
  j["format"] = e.format;
  j["tool"] = "bfsscan";
  j["version"] = version_;
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
  if (e.superblock != nullptr) {
    j["start"] = field(e.superblock->bdsup_start);
    j["end"] = field(e.superblock->bdsup_end);
  }
  j["inodes"] = e.slotCount;
  write(*out_, j);
}

void JsonLinesSink::inode(const InodeEvent& e) {
  if (e.inode == nullptr) return;
  const bfsDirent& d = *e.inode;
  Json j = record("inode");
  j["fs"] = e.fs;
  j["slot"] = e.slot;
  j["ino"] = field(d.d_ino);
  if (e.stage == InodeEvent::kBadExtent) {
    j["damaged"] = "extent";
    write(*out_, j);
    return;
  }
  const uint32_t first = d.d_sblock * BFS_BSIZE;  // as the file system computes it
  if (e.stage == InodeEvent::kBadType) {
    j["damaged"] = "type";
  } else {
    const bfsvattr& a = d.d_fattr;
    j["file_type"] = a.va_type == BFS_VDIR ? "dir" : "reg";
    j["mode"] = octal(a.va_mode);
    j["uid"] = field(a.va_uid);
    j["gid"] = field(a.va_gid);
    j["nlink"] = field(a.va_nlink);
    j["atime"] = field(a.va_atime);
    j["mtime"] = field(a.va_mtime);
    j["ctime"] = field(a.va_ctime);
  }
  j["first_block"] = field(d.d_sblock);
  j["last_block"] = field(d.d_eblock);
  j["image_offset"] = static_cast<uint64_t>(e.fs) + first;
  j["length"] = static_cast<uint64_t>(d.d_eoffset - first) + 1;
  write(*out_, j);
}

void JsonLinesSink::dirent(const DirentEvent& e) {
  if (e.entry == nullptr) return;
  const std::string name = e.entry->toString();
  Json j = record("dirent");
  j["fs"] = e.fs;
  j["ino"] = field(e.entry->l_ino);
  j["name"] = escapeBodyName(name);
  j["name_hex"] = hexBytes(name);
  write(*out_, j);
}

void JsonLinesSink::file(const FileEvent& e) {
  const char* status = fileStatusWord(e.status);
  if (status == nullptr) return;
  Json j = record("file");
  j["fs"] = e.fs;
  j["slot"] = e.slot;
  if (e.inode != nullptr) j["ino"] = field(e.inode->d_ino);
  j["name"] = escapeBodyName(e.name);
  j["name_hex"] = hexBytes(e.name);
  j["path"] = e.name.empty() ? Json() : Json(escapeBodyName(e.dir + "/" + e.name));
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

void JsonLinesSink::end(const EndEvent& e) {
  Json j = record("end");
  j["status"] = e.status;
  j["reached_end"] = e.reachedEnd;
  j["file_systems"] = e.fileSystems;
  j["files_extracted"] = e.filesExtracted;
  j["files_skipped"] = e.filesSkipped;
  j["files_lost"] = e.filesLost;
  j["bytes_written"] = e.bytesWritten;
  write(*out_, j);
  if (e.lastImage) out_->close();
}
