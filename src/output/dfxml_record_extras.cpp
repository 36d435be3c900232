// The provenance, nesting and deleted-item parts of the DFXML document.
#include "dfxml_record_extras.h"

#include "xml_text.h"

namespace {

std::string attr(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + xmlText(value) + "\"";
}

std::string attrIf(const char* name, const std::string& value) {
  return value.empty() ? "" : attr(name, value);
}

std::string joined(const std::vector<std::string>& parts, const char* sep) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : sep) + p;
  return out;
}

}  // namespace

std::string dfxmlImageProvenance(const ImageEvent& e) {
  std::string s = attrIf("name", e.name) + attrIf("format_chain", joined(e.chain, " then ")) +
                  (e.storedLength != 0 ? attr("stored_size", std::to_string(e.storedLength)) : "") +
                  attrIf("stored_md5", e.storedMd5) + attrIf("stored_sha1", e.storedSha1) +
                  attrIf("case_number", e.caseNumber) +
                  attrIf("evidence_number", e.evidenceNumber) + attrIf("examiner", e.examiner) +
                  attrIf("description", e.description) + attrIf("acquired", e.acquired) +
                  attrIf("start_time", e.startTime);
  if (s.empty()) return "";
  return "<bfsscan:image" + attr("format", e.format) +
         attr("media_size", std::to_string(e.length)) + s + "/>";
}

std::string dfxmlParentAttributes(const FileSystemEvent& e) {
  if (e.parentFs < 0) return "";
  return attr("bfsscan:parent_fs", std::to_string(e.parentFs)) +
         attr("bfsscan:parent_inode", std::to_string(e.parentSlot)) +
         attrIf("bfsscan:parent_filename", e.parentPath);
}

std::string dfxmlDeletedName(const DeletedNameEvent& e) {
  return "    <fileobject><filename>" + xmlText(e.dir + "/" + e.name) +
         "</filename><error>deleted name: no inode is known</error><alloc>0</alloc></fileobject>";
}

std::string dfxmlDigests(const std::vector<Digest>& digests) {
  std::string out;
  for (const Digest& d : digests) {
    if (!d.hex.empty()) out += "<hashdigest" + attr("type", d.algorithm) + ">" + d.hex + "</hashdigest>";
  }
  return out;
}

std::string dfxmlRunStats(const EndEvent& e, bool storedDigest) {
  std::string s = "  <bfsscan:runstats" + attr("status", std::to_string(e.status)) +
                  attr("reached_end", e.reachedEnd ? "1" : "0") + attrIf("end_time", e.endTime);
  if (storedDigest) {
    s += attr("verified", e.verified == EndEvent::kMatches  ? "1"
                          : e.verified == EndEvent::kDiffers ? "0"
                                                             : "unknown");
  }
  if (e.mediaHashesAsked) s += attr("media_read_whole", e.mediaDigests.empty() ? "0" : "1");
  if (e.unowned) {
    s += attr("deleted_candidates", std::to_string(e.deletedCandidates)) +
         attr("deleted_names", std::to_string(e.deletedNames)) +
         attr("orphans", std::to_string(e.orphans)) +
         attr("unallocated_written", std::to_string(e.unallocatedWritten)) +
         attr("unallocated_bytes", std::to_string(e.unallocatedBytes));
  }
  const std::string digests = dfxmlDigests(e.mediaDigests);
  return digests.empty() ? s + "/>" : s + ">" + digests + "</bfsscan:runstats>";
}
