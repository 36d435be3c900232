// The three number forms of the report: hexadecimal with 0x, plain
// decimal, and octal with a leading 0; a zero is a bare 0 in hex and octal.
#ifndef BFSSCAN_REPORT_H
#define BFSSCAN_REPORT_H

#include <cstdint>
#include <ostream>

struct Hex {
  uint64_t value;
};
struct Oct {
  uint64_t value;
};
std::ostream& operator<<(std::ostream& out, Hex h);
std::ostream& operator<<(std::ostream& out, Oct o);

#endif  // BFSSCAN_REPORT_H
