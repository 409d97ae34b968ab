// Placeholder until the algorithm lands: draws with pixel replication.
#include "algorithms.h"

namespace kestro::dor2ezu {
const Algorithm kMalvar{2, "02-Malvar", kNearest.scratchBytes, kNearest.run};
}  // namespace kestro::dor2ezu
