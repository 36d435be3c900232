// The fixed parts of the HTML report: its style sheet and its script, both
// put inline in the page. The page reads as plain tables without the
// script; with it, every table of class "grid" gets a filter box, sorting
// by a click on a column's heading, and pages of rows (a long table shows
// a page at a time). A filter in the address ("report.html#filter=TEXT")
// is applied when the page opens.
#ifndef BFSSCAN_HTML_ASSETS_H
#define BFSSCAN_HTML_ASSETS_H

extern const char kHtmlStyle[];
extern const char kHtmlScript[];

#endif  // BFSSCAN_HTML_ASSETS_H
