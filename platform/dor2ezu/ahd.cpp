// Placeholder until the algorithm lands: draws with pixel replication.
#include "algorithms.h"

namespace kestro::dor2ezu {
const Algorithm kAhd{4, "04-AHD", kNearest.scratchBytes, kNearest.run};
}  // namespace kestro::dor2ezu
