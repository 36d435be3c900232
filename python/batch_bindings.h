// The native functions behind bfsscan.batch: one image scanned into a
// folder of its own, and the case database's writer.
#ifndef BFSSCAN_BATCH_BINDINGS_H
#define BFSSCAN_BATCH_BINDINGS_H

#include <pybind11/pybind11.h>

void addBatchBindings(pybind11::module_& m);

#endif  // BFSSCAN_BATCH_BINDINGS_H
