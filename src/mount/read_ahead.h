// Large read-ahead for a FUSE mount: the kernel gives a new mount 128 KiB,
// so that sequential reads reach the server in pieces of that size whatever
// the server accepts. Where permitted (root), the mount's own read-ahead is
// raised; the setting goes away with the mount.
#ifndef BFSSCAN_READ_AHEAD_H
#define BFSSCAN_READ_AHEAD_H

#include <string>

// The device ("0:53") of what is mounted at the absolute path mountPoint,
// from mountinfo (the text of /proc/self/mountinfo); "" when nothing is.
// Reading it does not touch the mount.
std::string mountDevice(const std::string& mountinfo, const std::string& mountPoint);

// Sets the read-ahead of the mount at the absolute path mountPoint to kib
// KiB; false where that is not permitted or nothing is mounted there.
bool widenReadAhead(const std::string& mountPoint, unsigned kib);

#endif  // BFSSCAN_READ_AHEAD_H
