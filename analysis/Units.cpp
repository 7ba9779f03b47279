#include "analysis/Units.h"

#include <cmath>

namespace kelvatone::analysis {

const Hz c0Frequency = std::pow(2.0, -0.75) * 27.5;
const double log2C0Frequency = std::log2(c0Frequency);

Hz noteFrequency(NoteNumber n) {
    return std::pow(2.0, (n - 9) / 12.0) * 27.5;
}

} // namespace kelvatone::analysis
