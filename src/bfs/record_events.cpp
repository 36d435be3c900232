#include "record_events.h"

#include "text_report.h"

namespace {
ScanSink* g_sink = nullptr;
RecordPlace g_place;
}  // namespace

ScanSink& recordSink() {
  if (g_sink) return *g_sink;
  static TextReport fallback("");
  return fallback;
}

RecordPlace& recordPlace() { return g_place; }

RecordSinkScope::RecordSinkScope(ScanSink& sink) : previous_(g_sink) { g_sink = &sink; }

RecordSinkScope::~RecordSinkScope() { g_sink = previous_; }
