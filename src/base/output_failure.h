// Output that could not be written (an extraction directory, a file, or a
// file of results); ends the scan with status 2.
#ifndef BFSSCAN_OUTPUT_FAILURE_H
#define BFSSCAN_OUTPUT_FAILURE_H

#include <stdexcept>

class OutputFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#endif  // BFSSCAN_OUTPUT_FAILURE_H
