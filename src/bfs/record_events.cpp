#include "record_events.h"

#include "consistency.h"

bfsscan::Inode inodeFields(const bfsDirent& d, bfsDirent::Stage stage) {
  bfsscan::Inode in;
  in.ino = d.d_ino;
  if (stage == bfsDirent::kBadExtent) return in;
  in.firstBlock = d.d_sblock;
  in.lastBlock = d.d_eblock;
  in.lastByte = d.d_eoffset;
  if (stage == bfsDirent::kBadType) return in;
  const bfsvattr& a = d.d_fattr;
  in.type = a.va_type;
  in.mode = a.va_mode;
  in.uid = a.va_uid;
  in.gid = a.va_gid;
  in.nlink = a.va_nlink;
  in.atime = a.va_atime;
  in.mtime = a.va_mtime;
  in.ctime = a.va_ctime;
  return in;
}

bool detectAndReport(const char* block, int64_t s, ScanSink& sink) {
  HitEvent hit;
  if (!examine_bfs(block, s, &hit)) return false;
  sink.hit(hit);
  check_bfs_hit(hit);
  return hit.verdict == HitEvent::kAccepted;
}

bfsDirent decodeAndReport(const char* raw, int64_t fs, uint32_t slot, ScanSink& sink) {
  bfsDirent d;
  bfsDirent::Stage stage;
  const char* violated = bfsDirent::decode(raw, &d, &stage);
  if (!d.undefined()) {
    sink.inode({fs, slot, inodeFields(d, stage), static_cast<InodeEvent::Stage>(stage), {}});
  }
  if (violated != nullptr) require(false, violated);
  return d;
}

bfsLDirs decodeAndReportEntry(const char* raw, int64_t fs, ScanSink& sink) {
  const bfsLDirs entry(raw);
  if (!entry.undefined()) sink.dirent({fs, entry.l_ino, entry.toString()});
  return entry;
}
