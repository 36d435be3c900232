// bfsscan: finds every BFS file system in a disk image, reports it and
// copies its files out. See exit_status.h for what the exit status means.
#include <cstring>
#include <iostream>
#include <new>

#include "consistency.h"
#include "exit_status.h"
#include "report.h"
#include "scan.h"

#ifndef BFSSCAN_VERSION
#define BFSSCAN_VERSION "unknown"
#endif

namespace {

const char kUsage[] =
    "usage: bfsscan IMAGE\n"
    "Finds every BFS file system in IMAGE (a disk image or device), reports it on\n"
    "standard output and copies its files into STEM-OFFSET in the current\n"
    "directory. A file named like an option can be given as ./NAME.\n"
    "\n"
    "Exit status: 0 done, 1 wrong command line, 2 something could not be read or\n"
    "extracted (see standard error), 3 a file system is inconsistent.\n"
    "See bfsscan(1).\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "exactly one argument needed";
    return kExitUsage;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::cout << kUsage;
    return kExitSuccess;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "bfsscan " BFSSCAN_VERSION "\n";
    return kExitSuccess;
  }
  try {
    const ExitStatus status = do_scan(argv[1]);
    if (!report().flush()) {
      diag() << "bfsscan: cannot write the report to standard output" << std::endl;
      return kExitIncomplete;
    }
    return status;
  } catch (const InconsistentFileSystem& violation) {
    report().flush();
    diag() << "bfsscan: inconsistent file system at " << violation.base() << ": "
           << violation.condition() << std::endl;
    return kExitInconsistent;
  } catch (const std::bad_alloc&) {
    report().flush();
    diag() << "bfsscan: out of memory" << std::endl;
    return kExitIncomplete;
  }
}
