// bfsscan: finds every BFS file system in a disk image, reports it and
// copies its files out. See exit_status.h for what the exit status means.
#include <iostream>
#include <new>

#include "consistency.h"
#include "exit_status.h"
#include "report.h"
#include "scan.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "exactly one argument needed";
    return kExitUsage;
  }
  try {
    return do_scan(argv[1]);
  } catch (const InconsistentFileSystem& violation) {
    report().flush();
    std::cerr << "bfsscan: inconsistent file system at " << violation.base() << ": "
              << violation.condition() << std::endl;
    return kExitInconsistent;
  } catch (const std::bad_alloc&) {
    report().flush();
    std::cerr << "bfsscan: out of memory" << std::endl;
    return kExitIncomplete;
  }
}
