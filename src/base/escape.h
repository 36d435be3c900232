// Byte-exact, printable forms of names and paths that come from an image or
// the command line: for lines on standard error, for the body file and the
// JSON Lines file (both pure ASCII, so never invalid UTF-8), and as hex.
#ifndef BFSSCAN_ESCAPE_H
#define BFSSCAN_ESCAPE_H

#include <string>

// For standard error: every byte outside 0x20-0x7e, and the backslash, is
// escaped: \\ \n \r \t, any other as \xHH (lower-case hex).
std::string escapeForDiag(const std::string& bytes);

// For the body file and JSON names: every byte outside 0x20-0x7e, and '|'
// (the field separator), '\' and '%' (which mactime decodes as %HH), is
// written \xHH (lower-case hex).
std::string escapeBodyName(const std::string& bytes);

// Every byte as two lower-case hex digits.
std::string hexBytes(const std::string& bytes);

#endif  // BFSSCAN_ESCAPE_H
