// Writing scan events as a DFXML document.
#include "dfxml_sink.h"

#include "sys/fs/bfs.h"

#include <ctime>

#include "dfxml_record_extras.h"
#include "utc_time.h"
#include "xml_text.h"

namespace {

const char kDfxmlNs[] = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
const char kOwnNs[] = "urn:x-bfsscan:dfxml";

std::string num(uint64_t v) { return std::to_string(v); }

std::string element(const char* name, const std::string& text) {
  return std::string("<") + name + ">" + text + "</" + name + ">";
}

std::string attr(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + value + "\"";
}

std::string byteRuns(uint32_t fsOffset, uint64_t imgOffset, uint64_t length) {
  return "<byte_runs><byte_run" + attr("file_offset", "0") + attr("fs_offset", num(fsOffset)) +
         attr("img_offset", num(imgOffset)) + attr("len", num(length)) + "/></byte_runs>";
}

std::string digests(const std::vector<Digest>& list) {
  std::string out;
  for (const Digest& d : list) {
    if (!d.hex.empty()) out += "<hashdigest" + attr("type", d.algorithm) + ">" + d.hex + "</hashdigest>";
  }
  return out;
}

// The inode fields of a fileobject, in the schema's order.
std::string metadata(uint32_t type, uint32_t mode, uint32_t nlink, uint32_t uid, uint32_t gid,
                     uint32_t mtime, uint32_t ctime, uint32_t atime) {
  return element("meta_type", num(type)) + element("mode", num(mode)) +
         element("nlink", num(nlink)) + element("uid", num(uid)) + element("gid", num(gid)) +
         element("mtime", isoTime(mtime)) + element("ctime", isoTime(ctime)) +
         element("atime", isoTime(atime));
}

}  // namespace

std::string isoTime(int64_t seconds) { return utcIsoTime(seconds); }

DfxmlSink::DfxmlSink(std::unique_ptr<ResultsFile> out, std::string version,
                     std::string commandLine, std::string startTime)
    : out_(std::move(out)),
      version_(std::move(version)),
      commandLine_(std::move(commandLine)),
      startTime_(std::move(startTime)) {}

DfxmlSink::~DfxmlSink() {
  try {
    finish();
  } catch (...) {  // the file could not be written: nothing more to do
  }
}

void DfxmlSink::line(const std::string& text) { out_->writeLine(text); }

void DfxmlSink::begin(const std::string& path) {
  if (begun_) return;
  begun_ = true;
  line("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  line(std::string("<dfxml") + attr("xmlns", kDfxmlNs) +
       attr("xmlns:dc", "http://purl.org/dc/elements/1.1/") + attr("xmlns:bfsscan", kOwnNs) +
       attr("version", "2.0.0-beta.0") + ">");
  line("  <metadata><dc:type>Disk Image</dc:type></metadata>");
  line("  <creator>" + element("program", "bfsscan") + element("version", xmlText(version_)) +
       "<execution_environment>" + element("command_line", xmlText(commandLine_)) +
       element("start_time", startTime_) + "</execution_environment></creator>");
  line("  <source" + (name_.empty() ? "" : attr("bfsscan:name", xmlText(name_))) + ">" +
       element("image_filename", xmlText(path)) + "</source>");
}

void DfxmlSink::start(const std::string& path) { begin(path); }

void DfxmlSink::image(const ImageEvent& e) {
  begin(e.path);
  // The media size, as the byte run of the disk image.
  storedDigest_ = !e.storedMd5.empty() || !e.storedSha1.empty();
  line("  <diskimageobject>" + dfxmlImageProvenance(e) + "<byte_runs><byte_run" +
       attr("img_offset", "0") +
       attr("len", num(static_cast<uint64_t>(e.length))) + "/></byte_runs>" +
       element("sector_size", "512") + "</diskimageobject>");
}

void DfxmlSink::fileSystem(const FileSystemEvent& e) {
  closeVolume();
  volumeOpen_ = true;
  otherStarted_ = false;
  volumeBase_ = e.base;
  volumeErrors_.clear();
  moreVolumeErrors_ = 0;
  const uint32_t end = e.end;
  line("  <volume" + dfxmlParentAttributes(e) + ">" + element("partition_offset", num(static_cast<uint64_t>(e.base))) +
       element("block_size", "512") + element("ftype_str", "bfs") +
       element("block_count", num(static_cast<uint64_t>(end) / 512 + 1)));
}

void DfxmlSink::inode(const InodeEvent& e) {
  // An inode whose checks failed is told here; the others at their file event.
  if (!volumeOpen_ || otherStarted_) return;
  if (e.stage == InodeEvent::kDecoded && e.broken.empty()) return;
  const std::string error =
      e.stage == InodeEvent::kBadExtent ? "damaged inode: its extent is invalid"
      : e.stage == InodeEvent::kBadType ? "damaged inode: its type is invalid"
                                        : "damaged inode: " + xmlText(e.broken);
  line("    <fileobject>" + element("error", error) +
       element("alloc", "1") + element("inode", num(e.slot)) + "</fileobject>");
}

void DfxmlSink::file(const FileEvent& e) {
  if (e.status == FileEvent::kPending || !volumeOpen_ || otherStarted_) return;
  const bfsscan::Inode& a = e.inode;
  std::string s = "    <fileobject>";
  const bool root = e.status == FileEvent::kDirectory;
  if (root) {
    s += element("filename", xmlText(e.dir));
  } else if (!e.name.empty()) {
    s += element("filename", xmlText(e.dir + "/" + e.name));
  }
  if (e.status == FileEvent::kSkipped) s += element("error", "not extracted");
  if (e.status == FileEvent::kFailed) s += element("error", "its bytes could not be read");
  s += element("filesize", num(e.length)) + element("alloc", "1");
  if (!root && e.name.empty()) s += element("orphan", "1");
  s += element("inode", num(e.slot));
  s += metadata(a.type, a.mode, a.nlink, a.uid, a.gid, a.mtime, a.ctime, a.atime);
  s += byteRuns(e.first, e.imageOffset, e.length) + digests(e.digests) + "</fileobject>";
  line(s);
}

void DfxmlSink::deleted(const DeletedEvent& e) {
  if (!volumeOpen_ || otherStarted_) return;
  std::string s = "    <fileobject>";
  if (!e.path.empty()) s += element("filename", xmlText(e.path));
  if (e.overlapsLive) {
    s += element("error", "deleted candidate: some of its blocks belong to a file in use");
  }
  s += element("filesize", num(e.length)) + element("alloc", "0") + element("inode", num(e.slot));
  s += metadata(BFS_VREG, e.mode, e.nlink, e.uid, e.gid, e.mtime, e.ctime, e.atime);
  s += byteRuns(e.firstBlock * BFS_BSIZE, e.imageOffset, e.length) + digests(e.digests) +
       "</fileobject>";
  line(s);
}

void DfxmlSink::orphan(const OrphanEvent& e) {
  if (e.status == FileEvent::kPending || !volumeOpen_ || otherStarted_) return;
  const bfsscan::Inode& a = e.inode;
  std::string s = "    <fileobject>";  // no name: no directory entry gives one
  if (e.status == FileEvent::kSkipped) s += element("error", "not extracted");
  if (e.status == FileEvent::kFailed) s += element("error", "its bytes could not be read");
  s += element("filesize", num(e.length)) + element("alloc", "1") + element("orphan", "1") +
       element("inode", num(e.slot));
  s += metadata(a.type, a.mode, a.nlink, a.uid, a.gid, a.mtime, a.ctime, a.atime);
  s += byteRuns(e.first, e.imageOffset, e.length) + digests(e.digests) + "</fileobject>";
  line(s);
}

void DfxmlSink::deletedName(const DeletedNameEvent& e) {
  if (!volumeOpen_ || otherStarted_) return;
  line(dfxmlDeletedName(e));
}

void DfxmlSink::startOther() {
  if (otherStarted_) return;
  otherStarted_ = true;
  std::string text;
  for (const std::string& t : volumeErrors_) text += (text.empty() ? "" : "\n") + t;
  if (moreVolumeErrors_ > 0) text += "\n(" + num(moreVolumeErrors_) + " more)";
  if (!text.empty()) line("    " + element("error", text));
  volumeErrors_.clear();
  moreVolumeErrors_ = 0;
}

void DfxmlSink::dataArea(const DataAreaEvent& e) {
  if (!volumeOpen_) return;
  startOther();
  line("    <bfsscan:data_area" + attr("img_offset", num(e.imageOffset)) +
       attr("len", num(e.length)) + attr("overlapping_extents", e.overlap ? "1" : "0") +
       attr("extents_outside", e.outside ? "1" : "0") + "/>");
}

void DfxmlSink::unallocated(const UnallocatedEvent& e) {
  if (!volumeOpen_) return;
  startOther();
  std::string s = "    <bfsscan:unallocated" +
                  attr("kind", e.kind == UnallocatedEvent::kFree ? "free" : "slack");
  if (e.slot >= 0) s += attr("inode", num(static_cast<uint64_t>(e.slot)));
  s += attr("fs_offset", num(e.imageOffset - static_cast<uint64_t>(e.fs))) +
       attr("img_offset", num(e.imageOffset)) + attr("len", num(e.length)) +
       attr("non_zero", e.nonZero ? "1" : "0");
  if (!e.path.empty()) s += attr("filename", xmlText(e.path));
  const std::string digests = dfxmlDigests(e.digests);
  line(digests.empty() ? s + "/>" : s + ">" + digests + "</bfsscan:unallocated>");
}

void DfxmlSink::problem(const ProblemEvent& e) {
  const std::string text = xmlText(e.text);
  if (volumeOpen_ && e.fs == volumeBase_) {
    if (otherStarted_) {
      line("    " + element("bfsscan:error", text));
    } else if (volumeErrors_.size() < kMaxErrors) {
      volumeErrors_.push_back(text);
    } else {
      ++moreVolumeErrors_;
    }
    return;
  }
  if (documentErrors_.size() < kMaxErrors) {
    documentErrors_.push_back(text);
  } else {
    ++moreDocumentErrors_;
  }
}

void DfxmlSink::closeVolume() {
  if (!volumeOpen_) return;
  startOther();
  line("  </volume>");
  volumeOpen_ = false;
}

void DfxmlSink::finish() {
  if (finished_) return;
  finished_ = true;
  begin("");
  closeVolume();
  for (const std::string& t : documentErrors_) line("  " + element("bfsscan:error", t));
  if (moreDocumentErrors_ > 0) {
    line("  " + element("bfsscan:error", "(" + num(moreDocumentErrors_) + " more problems)"));
  }
  if (ended_) line(dfxmlRunStats(*ended_, storedDigest_));
  line("</dfxml>");
}

void DfxmlSink::end(const EndEvent& e) {
  ended_ = e;
  // One document for the whole run: the images of an archive that follow
  // go into it too, each a diskimageobject of its own with its volumes.
  if (!e.lastImage) {
    closeVolume();
    return;
  }
  finish();
  out_->close();
}
