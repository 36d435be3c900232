// The native half of bfsscan.open(): an image opened once, the list-only
// scan of its file systems, and files read from it on demand.
#ifndef BFSSCAN_PYTHON_OPEN_BINDING_H
#define BFSSCAN_PYTHON_OPEN_BINDING_H

#include <pybind11/pybind11.h>

// Adds Opened, OpenedFileSystem, OpenedFile, FileError and ImageError to m.
void defineOpen(pybind11::module_& m);

#endif  // BFSSCAN_PYTHON_OPEN_BINDING_H
