// Placeholder until the algorithm lands: draws with pixel replication.
#include "algorithms.h"

namespace kestro::dor2ezu {
const Algorithm kRcd{5, "05-RCD", kNearest.scratchBytes, kNearest.run};
}  // namespace kestro::dor2ezu
