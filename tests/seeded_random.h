// Random inputs that can be repeated: every generator in the tests is a
// std::mt19937 with a fixed seed, and the seed goes into the test's output
// and its XML report, so a failure can be run again with the same input.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <random>
#include <string>

inline std::mt19937 seeded_random(std::uint32_t seed) {
    std::cout << "random seed " << seed << "\n";
    testing::Test::RecordProperty("random_seed", std::to_string(seed));
    return std::mt19937(seed);
}

// A number from 0 to bound - 1.
inline unsigned below(std::mt19937 &random, unsigned bound) {
    return std::uniform_int_distribution<unsigned>(0, bound - 1)(random);
}
