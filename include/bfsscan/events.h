// What a scan tells its sink, in the order it meets it: plain values in the
// host's byte order (the fields the JSON Lines records carry), and the sink
// interface that receives them. The text report, the JSON Lines file, the
// body file and the map are sinks; so is anything a caller writes.
#ifndef BFSSCAN_EVENTS_H
#define BFSSCAN_EVENTS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bfsscan/export.h"

namespace bfsscan {

// A digest of a file's bytes, by algorithm name ("md5", "sha1", "sha256"),
// as lower-case hexadecimal; empty when the bytes could not be read.
struct Digest {
  std::string algorithm;
  std::string hex;
};

// The image, once opened and measured.
struct ImageEvent {
  std::string path;    // as given
  int64_t length = 0;  // media size in bytes
  std::string format;  // "raw", "ewf", "split", "vhd", "vhdx", "vmdk", "qcow"
  // Provenance. The stem the run was given for its outputs (--name); empty
  // when the image's file name gives it.
  std::string name{};
  // How the media was reached, outermost first, the image format last:
  // {"raw"}; {"gzip", "raw"}; {"zip member m.img", "qcow"}.
  std::vector<std::string> chain{};
  uint64_t storedLength = 0;  // bytes of a compressed input as stored; 0 when none or unknown
  // What the container stores of the media (an EWF set), lower-case
  // hexadecimal; empty when it stores none.
  std::string storedMd5{}, storedSha1{};
  // The acquisition record an EWF set carries; empty when it has none.
  std::string caseNumber{}, evidenceNumber{}, examiner{}, description{}, acquired{};
  std::string startTime{};  // when the run began, ISO 8601 in UTC
};

// A block that starts with the magic.
struct HitEvent {
  enum Verdict {
    kDiscarded,      // start >= end; the scan goes on
    kCountMismatch,  // the two slot counts differ: a violated condition follows
    kAccepted,       // a file system follows
  };
  int64_t offset = 0;
  uint32_t start = 0;
  uint32_t end = 0;
  uint64_t nr = 0;   // slots counted
  uint64_t nr2 = 0;  // slots by division
  Verdict verdict = kDiscarded;
};

// An accepted superblock: the file system at base is being read.
struct FileSystemEvent {
  int64_t base = 0;
  uint32_t magic = 0;
  uint32_t start = 0;      // end of the inode table, relative to base
  uint32_t end = 0;        // last byte of the file system, relative to base
  uint64_t slotCount = 0;  // slots by division
  // Where it lies: inside a file of another file system (parentFs >= 0),
  // that file's slot and path; parentFs -1 for one found in the image itself.
  int64_t parentFs = -1;
  uint32_t parentSlot = 0;
  std::string parentPath{};  // "disk-0/nested.img"; empty when it has no name
};

// The fields of an inode, as far as they were decoded.
struct Inode {
  enum Type : uint32_t { kRegular = 1, kDirectory = 2 };
  uint32_t ino = 0;
  uint32_t firstBlock = 0;  // the extent in blocks of 512 bytes ...
  uint32_t lastBlock = 0;
  uint32_t lastByte = 0;    // ... and the offset of its last byte in the file system
  uint32_t type = 0;
  uint32_t mode = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint32_t nlink = 0;
  uint32_t atime = 0;  // seconds since 1970, unsigned
  uint32_t mtime = 0;
  uint32_t ctime = 0;
  // The file-system offset of the first byte, in the file system's own
  // 32-bit arithmetic (it wraps).
  uint32_t firstByte() const { return firstBlock * 512u; }
  // Bytes from the first to the last byte inclusive.
  uint64_t length() const { return static_cast<uint64_t>(lastByte - firstByte()) + 1; }
  bool isDirectory() const { return type == kDirectory; }
};

// An inode slot in use, decoded as far as its checks allowed.
struct InodeEvent {
  enum Stage {
    kBadExtent,  // only the inode number is known; an extent check failed
    kBadType,    // the extent is known; the type check failed
    kDecoded,    // every field is decoded and checked
  };
  int64_t fs = 0;     // base of its file system
  uint32_t slot = 0;  // slot number in the table
  Inode inode;
  Stage stage = kDecoded;
  // The condition the slot breaks, when the scan leaves the slot out and
  // goes on (keep-going); empty otherwise.
  std::string broken;
};

// A root directory entry in use.
struct DirentEvent {
  int64_t fs = 0;
  uint32_t ino = 0;
  std::string name;  // the entry's bytes up to the first NUL, at most 14
};

// The extraction directory of a file system.
struct DirectoryEvent {
  int64_t fs = 0;
  std::string path;  // relative to the output directory ("disk-512")
  bool existed = false;
};

// One inode in use meeting extraction: the root directory, or a file.
struct FileEvent {
  enum Status {
    kPending,    // about to be copied (the copying line)
    kExtracted,  // written whole
    kListed,     // read whole in a dry run; nothing written
    kSkipped,    // no usable name, or its path is the image
    kFailed,     // its bytes could not be read, or it was not written
    kDirectory,  // the root directory: nothing to copy
  };
  int64_t fs = 0;
  uint32_t slot = 0;
  Inode inode;
  std::string dir;           // extraction directory ("disk-512")
  std::string name;          // from the root directory; empty when none names it
  uint32_t first = 0;        // file-system offset of the first byte (32-bit product)
  uint64_t imageOffset = 0;  // base + first
  uint64_t length = 0;       // bytes: distance + 1
  Status status = kPending;
  std::vector<Digest> digests;  // the hashes asked for, when read
};

// A problem: one line on standard error.
struct ProblemEvent {
  enum What {
    kReadError,     // the image could not be opened or read
    kShrunk,        // the image became shorter while it was read
    kTruncated,     // a file system runs past the end of the image
    kInconsistent,  // a consistency condition is violated
    kNoRoot,        // a file system has no root directory
    kSkipped,       // a file was not extracted (no name, unsafe, the image)
    kLost,          // a file was overwritten by a later one of the same path
    kUnreadable,    // a file or blocks could not be read (keep-going)
    kOutput,        // an extraction directory, a file or an output file failed
    kPreserve,      // times, mode or owner could not be applied
    kBudget,        // the disk budget is spent
    kInterrupted,   // a stop request ended the run
    kReport,        // the report could not be written
    kSetUserIdRoot, // not a problem: a file was made set-user-ID root (--preserve as root)
  };
  int64_t fs = -1;      // base of the file system, -1 when none
  int64_t slot = -1;    // slot of the file concerned, -1 when none
  uint64_t offset = 0;  // image offset concerned (the point of damage), 0 when none
  What what = kReadError;
  std::string text;  // the standard-error line, without newline, already escaped
};

// The end of the run.
struct EndEvent {
  bool reachedEnd = false;  // the scan read to the end of the image ("end of")
  int status = 0;           // the exit status
  uint64_t fileSystems = 0;
  bool dryRun = false;          // nothing was written: the files were listed
  uint64_t filesExtracted = 0;  // in a dry run: files listed
  uint64_t filesSkipped = 0;
  uint64_t filesLost = 0;
  uint64_t bytesWritten = 0;  // in a dry run: bytes that would have been written
  bool lastImage = true;      // no image follows (an archive has one per member)
  // Provenance. The digests asked for (--hash) of the media, read whole and
  // in order after the scan reached its end; empty when it did not.
  std::vector<Digest> mediaDigests{};
  // Whether the media read matched the digest the container stores of it.
  enum Verified { kNotChecked, kMatches, kDiffers };
  Verified verified = kNotChecked;  // kNotChecked: none stored, or not all was read
  std::string endTime{};            // when the run ended, ISO 8601 in UTC
  // What --deleted and --unallocated found (unowned: either was asked).
  bool unowned = false;
  uint64_t deletedCandidates = 0;
  uint64_t deletedNames = 0;
  uint64_t orphans = 0;
  uint64_t unallocatedWritten = 0;  // free runs and slack written (or listed)
  uint64_t unallocatedBytes = 0;
  bool mediaHashesAsked = false;  // --hash was given: mediaDigests says whether they were made
};

// The data area of a file system (from the superblock's start field to its
// end field), as --unallocated looked at it: whether the extents of the
// inodes in use overlap one another or reach outside it.
struct DataAreaEvent {
  int64_t fs = 0;
  uint64_t imageOffset = 0;
  uint64_t length = 0;
  bool overlap = false;
  bool outside = false;
};

// Bytes no live file owns (--unallocated): a maximal free run of the data
// area, or the slack after a file's last byte in its last block.
struct UnallocatedEvent {
  enum Kind { kFree, kSlack };
  int64_t fs = 0;
  Kind kind = kFree;
  int64_t slot = -1;  // the inode whose slack it is; -1 for free space
  uint64_t imageOffset = 0;
  uint64_t length = 0;
  bool nonZero = false;  // holds a byte that is not zero (as far as it was read)
  std::string path;      // where it was written (or listed), relative; empty when not
  std::vector<Digest> digests{};  // of the bytes written, when asked for (--hash)
};

// A deleted candidate (--deleted): an unused inode slot whose other fields
// still describe a regular file inside the data area. A candidate only:
// its blocks may have been reused since.
struct DeletedEvent {
  int64_t fs = 0;
  uint32_t slot = 0;
  uint32_t firstBlock = 0, lastBlock = 0, lastByte = 0;
  uint32_t mode = 0, uid = 0, gid = 0, nlink = 0, atime = 0, mtime = 0, ctime = 0;
  uint64_t imageOffset = 0;
  uint64_t length = 0;
  bool overlapsLive = false;  // some of its blocks belong to a file in use
  std::string path;           // where it was written (or listed), relative; empty when not
  std::vector<Digest> digests;
  std::string dir{};          // the extraction directory of its file system ("disk-0")
};

// A root-directory entry whose inode number is 0 but whose name is not all
// zero bytes: the name of a file that may have been deleted (--deleted).
struct DeletedNameEvent {
  int64_t fs = 0;
  uint64_t entry = 0;  // index of the entry in the directory
  std::string name;
  std::string dir{};   // the extraction directory of its file system ("disk-0")
};

// An archive's member about to be scanned, before its start event: the
// archive as given and the member's path in it. Its events follow as for
// any image, under the name "ARCHIVE:MEMBER".
struct MemberEvent {
  std::string archive;
  std::string name;
};

// A file that no sound directory entry names (keep-going): an inode in
// use, of a regular file, whose extent is sound, its entry broken, the root
// directory unreadable, or no entry at all. Copied into the directory of
// orphans beside the files, as ino-N (N its slot). Like a file, it comes
// once as kPending before its copy and once with its outcome.
struct OrphanEvent {
  int64_t fs = 0;
  uint32_t slot = 0;
  Inode inode;
  std::string dir;           // extraction directory ("disk-512")
  std::string path;          // relative to the output directory ("disk-512/.bfsscan-orphans/ino-5")
  uint32_t first = 0;        // file-system offset of the first byte (32-bit product)
  uint64_t imageOffset = 0;  // base + first
  uint64_t length = 0;
  FileEvent::Status status = FileEvent::kPending;  // kExtracted, kListed, kSkipped or kFailed
  std::vector<Digest> digests;  // the hashes asked for, when read whole
};

// Receives the events of a scan. Every method may throw to end the scan as
// an output failure; the end event comes however the scan ends.
class BFSSCAN_API Sink {
 public:
  virtual ~Sink() = default;
  // Before the image is opened.
  virtual void start(const std::string& /*path*/) {}
  virtual void image(const ImageEvent&) {}
  virtual void hit(const HitEvent&) {}
  virtual void fileSystem(const FileSystemEvent&) {}
  virtual void inode(const InodeEvent&) {}
  virtual void dirent(const DirentEvent&) {}
  virtual void directory(const DirectoryEvent&) {}
  // A file is about to be copied (status kPending), or its outcome is known.
  virtual void file(const FileEvent&) {}
  virtual void problem(const ProblemEvent&) {}
  // What --unallocated and --deleted find, after a file system's files.
  virtual void dataArea(const DataAreaEvent&) {}
  virtual void unallocated(const UnallocatedEvent&) {}
  virtual void deleted(const DeletedEvent&) {}
  virtual void deletedName(const DeletedNameEvent&) {}
  virtual void end(const EndEvent&) {}
  // Between pieces of work: the byte of the image the scan has reached and
  // the file systems found so far.
  virtual void progress(int64_t /*position*/, uint64_t /*fileSystems*/) {}
  // While a compressed image is decoded, before its image event: the bytes
  // read of the input so far, and its length (0 when not known).
  virtual void decoding(uint64_t /*consumed*/, uint64_t /*total*/) {}
  // Whether output this sink owns could not be written while the run went
  // on (a closed standard output); makes the status 2.
  virtual bool lostOutput() const { return false; }
  // An archive's member begins (see MemberEvent).
  virtual void member(const MemberEvent&) {}
  // A file no sound directory entry names (keep-going), after its file system's files.
  virtual void orphan(const OrphanEvent&) {}
};

}  // namespace bfsscan

#endif  // BFSSCAN_EVENTS_H
