// The run conventions: numbers as the command lines give them, the version string,
// the two clocks and the memory total.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

#include "toolkit/run.h"

namespace {

TEST(ParseNumber, PowersExponentsHexAndGarbage) {
    EXPECT_EQ(parseNumber("2^20"), 1048576);
    EXPECT_EQ(parseNumber("2^33"), 2);  // the shift is taken mod 32
    EXPECT_EQ(parseNumber("2^0"), 1);
    EXPECT_EQ(parseNumber("1e3"), 1000);
    EXPECT_EQ(parseNumber("2.5e3"), 2500);
    EXPECT_EQ(parseNumber("0x100"), 256);
    EXPECT_EQ(parseNumber("7.9"), 7);
    EXPECT_EQ(parseNumber("-7.9"), -7);
    EXPECT_EQ(parseNumber("12abc"), 12);
    EXPECT_EQ(parseNumber("abc"), 0);
    EXPECT_EQ(parseNumber(""), 0);
    // Beyond int range or not finite: not a usable number, so the default applies.
    EXPECT_EQ(parseNumber("1e30"), 0);
    EXPECT_EQ(parseNumber("nan"), 0);
    EXPECT_EQ(parseNumber("inf"), 0);
}

TEST(RunConventions, VersionAndClocks) {
    const char* v = versionString();
    EXPECT_EQ(v, versionString());
    EXPECT_EQ(std::string(v).size(), 20u);  // "Mmm dd yyyy hh:mm:ss"
    // Both clocks advance: the wall clock across a sleep, the CPU clock across work.
    const int t0 = msClock();
    usleep(30000);
    EXPECT_GE(msClock() - t0, 25);
    EXPECT_LT(msClock() - t0, 30000);
    const int cpu0 = cpuMs();
    volatile unsigned spin = 0;
    for (const int start = msClock(); cpuMs() - cpu0 < 5 && msClock() - start < 10000;) spin = spin + 1;
    EXPECT_GE(cpuMs() - cpu0, 5) << "the CPU clock did not move in 10 s of work";
    unsigned long long before = memoryTotal();
    void* p = trackedMalloc(1000);
    void* q = trackedCalloc(10, 10);
    EXPECT_EQ(memoryTotal(), before + 1100);
    free(p);
    free(q);
}

// Damage ends a run with "## ERROR: " and status 1, or the Hamming search's way only
// on the thread, and for the lifetime, of its route.
TEST(RunConventions, DamageRouteIsPerThreadAndScoped) {
    EXPECT_EXIT(stopOnDamage("x is damaged\n"), ::testing::ExitedWithCode(1), "## ERROR: x is damaged");
    EXPECT_EXIT(
        {
            HammingDamageRoute route;
            stopOnDamage("x is damaged\n");
        },
        ::testing::ExitedWithCode(255), "## ERROR: x is damaged");
    EXPECT_EXIT(
        {
            { HammingDamageRoute ended; }
            HammingDamageRoute route;  // this thread's, not the other's
            std::thread other([] { stopOnDamage("x is damaged\n"); });
            other.join();
        },
        ::testing::ExitedWithCode(1), "## ERROR: x is damaged");
}

}  // namespace
