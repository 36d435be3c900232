// The provenance, nesting and closing fields of the JSON Lines records.
#include "json_record_extras.h"

#include "escape.h"

namespace {

using Json = nlohmann::ordered_json;

Json orNull(const std::string& s) { return s.empty() ? Json() : Json(s); }

}  // namespace

void addImageProvenance(Json& j, const ImageEvent& e, const std::string& commandLine) {
  if (!e.name.empty()) j["name"] = e.name;
  if (!e.chain.empty()) j["chain"] = e.chain;
  if (e.storedLength != 0) j["stored_size"] = e.storedLength;
  if (!e.storedMd5.empty()) j["stored_md5"] = e.storedMd5;
  if (!e.storedSha1.empty()) j["stored_sha1"] = e.storedSha1;
  if (e.format == "ewf") {
    Json a;
    a["case_number"] = orNull(e.caseNumber);
    a["evidence_number"] = orNull(e.evidenceNumber);
    a["examiner"] = orNull(e.examiner);
    a["description"] = orNull(e.description);
    a["acquired"] = orNull(e.acquired);
    j["acquisition"] = a;
  }
  if (!e.startTime.empty()) j["started"] = e.startTime;
  if (!commandLine.empty()) j["command_line"] = commandLine;
}

void addRunRecord(Json& j, const EndEvent& e, bool storedDigest) {
  if (e.unowned) {
    j["deleted_candidates"] = e.deletedCandidates;
    j["deleted_names"] = e.deletedNames;
    j["orphans"] = e.orphans;
    j["unallocated_written"] = e.unallocatedWritten;
    j["unallocated_bytes"] = e.unallocatedBytes;
  }
  if (e.mediaHashesAsked) {
    if (e.mediaDigests.empty()) {
      j["media_hashes"] = nullptr;  // the media was not read whole
    } else {
      Json h;
      for (const Digest& d : e.mediaDigests) h[d.algorithm] = d.hex;
      j["media_hashes"] = h;
    }
  }
  if (storedDigest) {
    j["verified"] = e.verified == EndEvent::kNotChecked ? Json()
                                                        : Json(e.verified == EndEvent::kMatches);
  }
  if (!e.endTime.empty()) j["ended"] = e.endTime;
}

void addParent(Json& j, const FileSystemEvent& e) {
  if (e.parentFs < 0) return;  // found in the image itself
  Json p;
  p["fs"] = e.parentFs;
  p["slot"] = e.parentSlot;
  p["path"] = orNull(e.parentPath);
  if (!e.parentPath.empty()) p["path_hex"] = hexBytes(e.parentPath);
  j["parent"] = p;
}
