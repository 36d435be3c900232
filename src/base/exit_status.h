// The exit statuses of bfsscan.
#ifndef BFSSCAN_EXIT_STATUS_H
#define BFSSCAN_EXIT_STATUS_H

enum ExitStatus {
  // The scan reached the end of the image and everything found was extracted.
  kExitSuccess = 0,
  // Wrong command line.
  kExitUsage = 1,
  // The image could not be opened or read, a file system was truncated, or
  // something could not be extracted; standard error says what.
  kExitIncomplete = 2,
  // A file system broke a consistency condition; the run stopped there.
  kExitInconsistent = 3,
};

#endif  // BFSSCAN_EXIT_STATUS_H
