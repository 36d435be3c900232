// A file of results (the body file, the JSON Lines file) written line by
// line: each line goes out whole and at once, so that a run that stops still
// leaves every line written so far. The path "-" is standard output.
#ifndef BFSSCAN_RESULTS_FILE_H
#define BFSSCAN_RESULTS_FILE_H

#include <string>

#include "console.h"

class ResultsFile {
 public:
  // Creates or truncates path (mode 0666 less the umask), or takes standard
  // output for "-". Throws OutputFailure when the file cannot be created, or
  // when it is the same file as image (the image to be scanned; may be empty).
  // Standard output is written after console's progress line is taken off,
  // and a failure to write it is said on console's error stream.
  explicit ResultsFile(const std::string& path, const std::string& image = "",
                       Console* console = nullptr);
  ~ResultsFile();
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;

  // Writes line and a newline. A file that cannot be written throws
  // OutputFailure once; later lines are dropped, so that the run can still
  // hand its last events to every sink. When standard output cannot be written (a closed pipe),
  // that is said once on standard error, the line and all later ones are
  // dropped, and lost() becomes true.
  void writeLine(const std::string& line);
  // Closes a file (not standard output); throws OutputFailure when that fails.
  void close();

  bool isStandardOutput() const { return stdout_; }
  bool lost() const { return lost_; }

 private:
  [[noreturn]] void fail(int error);

  std::string path_;
  Console* console_;
  int fd_ = -1;
  bool stdout_ = false;
  bool lost_ = false;
  bool failed_ = false;  // an OutputFailure was thrown; later lines are dropped
};

#endif  // BFSSCAN_RESULTS_FILE_H
