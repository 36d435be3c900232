// The bfsscan library: finds every BFS file system in a disk image, reports
// what it holds as events and copies its files out.
#ifndef BFSSCAN_BFSSCAN_H
#define BFSSCAN_BFSSCAN_H

#include "bfsscan/events.h"
#include "bfsscan/file_system.h"
#include "bfsscan/image.h"
#include "bfsscan/scan.h"
#include "bfsscan/stop_token.h"

#endif  // BFSSCAN_BFSSCAN_H
