// Placeholder until the algorithm lands: draws with pixel replication.
#include "algorithms.h"

namespace kestro::dor2ezu {
const Algorithm kVng{3, "03-VNG", kNearest.scratchBytes, kNearest.run};
}  // namespace kestro::dor2ezu
