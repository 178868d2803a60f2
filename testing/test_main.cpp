// The main of every test program: the tests compare local times and texts, so they run in
// UTC and the C locale whoever starts them (ctest, a shell in another zone, a debugger).
// The settings go into the environment too, for the programs the tests start.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("LC_ALL", "C", 1);
    std::setlocale(LC_ALL, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
