// The program's time constants and their test-only override.
#include "base/Timing.h"

namespace {
TimingConstants current;
}

const TimingConstants& Timing() {
    return current;
}

void SetTimingForTests(const TimingConstants& constants) {
    current = constants;
}
