// --cat and --stat: one file of one file system, read without a scan.
// The image is opened as for a scan (a stream is decoded once, and only its
// first image is looked at); then only the superblock at FS, the inode's
// slot, the root directory (for --stat) and the file's bytes (for --cat)
// are read. Nothing is created anywhere.
#ifndef BFSSCAN_INODE_COMMAND_H
#define BFSSCAN_INODE_COMMAND_H

#include "options.h"
#include "stop.h"
#include "terminal.h"

// Runs --cat or --stat as options ask; returns the exit status: 0, or 2
// with one line on standard error (no file system at FS, no such inode,
// not a regular file, bytes outside the image or unreadable, an image that
// cannot be opened), or 128 + N after a stop request N.
int runInodeCommand(const ScanOptions& options, Terminal& terminal, const StopToken* stop);

#endif  // BFSSCAN_INODE_COMMAND_H
