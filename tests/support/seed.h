// The seed rule of the random tests. Each test starts from a fixed seed written in the
// test, so every run checks the same cases; TEST_SEED=<n> starts it from n instead, to
// replay a case a failure reported or to try new ones. Every case puts its seed into
// its failure messages with SCOPED_TRACE(seedNote(seed)).
#pragma once

#include <cstdlib>
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

}  // namespace testsupport
