// The seed rule of the random tests. Each test starts from a fixed seed written in the
// test, so every run checks the same cases; TEST_SEED=<n> starts it from n instead, to
// replay a case a failure reported or to try new ones. Every case puts its seed into
// its failure messages: seededRounds does it for each round, a test of one seed with
// SCOPED_TRACE(seedNote(seed)).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace testsupport {

// The first seed of a test: `fixed`, unless TEST_SEED gives another.
inline unsigned firstSeed(unsigned fixed) {
    const char* replay = std::getenv("TEST_SEED");
    return replay && *replay ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10)) : fixed;
}

inline std::string seedNote(unsigned seed) {
    return "seed " + std::to_string(seed) + " (replay with TEST_SEED=" + std::to_string(seed) + ")";
}

struct SeededRound {
    unsigned seed;     // firstSeed(fixed) + index
    unsigned index;    // 0 for the first round
    std::mt19937 rng;  // seeded with `seed`
};

// Runs `count` rounds of body(round), round i from seed firstSeed(fixed) + i. A failure
// names its round's seed, which TEST_SEED replays as round 0; the first round that
// fails is the last one run.
template <class Body>
void seededRounds(unsigned fixed, unsigned count, Body body) {
    const unsigned first = firstSeed(fixed);
    const bool failedBefore = testing::Test::HasFailure();
    for (unsigned i = 0; i < count; i++) {
        SeededRound round{first + i, i, std::mt19937(first + i)};
        SCOPED_TRACE("round " + std::to_string(i) + ", " + seedNote(round.seed));
        body(round);
        if (!failedBefore && testing::Test::HasFailure()) return;
    }
}

}  // namespace testsupport
