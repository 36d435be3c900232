// Escaping of bytes that come from an image (names) or from the command
// line (the image path) before they reach a terminal or a results file.
#ifndef BFSSCAN_ESCAPE_H
#define BFSSCAN_ESCAPE_H

#include <string>

// For standard error: printable ASCII (0x20-0x7e) as it is, but the
// backslash; \\, \n, \r, \t, and every other byte as \xHH.
std::string escapeForDiag(const std::string& bytes);

// For the body file: every byte outside 0x20-0x7e, and '|' and '\', as \xHH.
std::string escapeBodyName(const std::string& bytes);

// Every byte as two lower-case hexadecimal digits.
std::string hexBytes(const std::string& bytes);

#endif  // BFSSCAN_ESCAPE_H
