// Seed for the randomised tests: fixed, so a run can be repeated, and
// overridable with PCM_TEST_SEED to explore; every such test names it on failure.
#pragma once

#include <cstdint>
#include <cstdlib>

inline std::uint32_t TestSeed() {
    const char* chosen = std::getenv("PCM_TEST_SEED");
    return chosen ? static_cast<std::uint32_t>(std::strtoul(chosen, nullptr, 10)) : 20261207u;
}
