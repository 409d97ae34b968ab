// The algorithms the library lists, one per source file, in the order of the list.
#pragma once

#include "mosaic.h"

namespace kestro::dor2ezu {

extern const Algorithm kNearest; // nearest.cpp
extern const Algorithm kMalvar;  // malvar.cpp
extern const Algorithm kVng;     // vng.cpp
extern const Algorithm kAhd;     // ahd.cpp
extern const Algorithm kRcd;     // rcd.cpp

// How many threads Dor2EzuPlane may use; 0 (the default) means one per core. Benchmarks set 1 to
// compare single-threaded figures.
void setThreadCount(int threads);

} // namespace kestro::dor2ezu
