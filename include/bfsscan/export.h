// Marks what the shared library exports: the public API and nothing else.
#ifndef BFSSCAN_EXPORT_H
#define BFSSCAN_EXPORT_H

#define BFSSCAN_API __attribute__((visibility("default")))

#endif  // BFSSCAN_EXPORT_H
