// Text of any bytes for an HTML page: never markup, and the bytes it stands
// for always recoverable; and the href of a relative path.
#ifndef BFSSCAN_HTML_TEXT_H
#define BFSSCAN_HTML_TEXT_H

#include <string>

// Safe in HTML text and quoted attribute values: markup characters as
// entities, a backslash doubled, tab, newline and carriage return as \t \n
// \r, other control bytes and bytes that are not valid UTF-8 as \xHH (as
// lines on standard error show them).
std::string htmlText(const std::string& raw);

// A relative path as a URL path: every byte but letters, digits, "-._~/"
// percent-encoded, so that no name is taken for a query, a fragment or a
// scheme ("a:b" is "./a%3Ab").
std::string hrefPath(const std::string& path);

#endif  // BFSSCAN_HTML_TEXT_H
