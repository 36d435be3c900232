// The report stream (standard output unless a test or the fuzzer points it
// elsewhere) and the three number forms it uses: hexadecimal with 0x, plain
// decimal, and octal with a leading 0; a zero is a bare 0 in hex and octal.
#ifndef BFSSCAN_REPORT_H
#define BFSSCAN_REPORT_H

#include <cstdint>
#include <ostream>

std::ostream& report();
// Points the report at another stream; nullptr restores standard output.
void setReportStream(std::ostream* out);

// Standard error unless pointed elsewhere: problems, one line each.
std::ostream& diag();
void setDiagStream(std::ostream* out);

struct Hex {
  uint64_t value;
};
struct Oct {
  uint64_t value;
};
std::ostream& operator<<(std::ostream& out, Hex h);
std::ostream& operator<<(std::ostream& out, Oct o);

#endif  // BFSSCAN_REPORT_H
