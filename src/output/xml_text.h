// Escaping of arbitrary bytes for XML documents (the map, DFXML): markup
// characters as entities, and whatever XML cannot carry as \xHH.
#ifndef BFSSCAN_XML_TEXT_H
#define BFSSCAN_XML_TEXT_H

#include <string>

// Text of any bytes made safe inside XML character data and attribute
// values: markup characters as entities, a backslash doubled, and control
// bytes and bytes that are not valid UTF-8 as \xHH.
std::string xmlText(const std::string& raw);

#endif  // BFSSCAN_XML_TEXT_H
