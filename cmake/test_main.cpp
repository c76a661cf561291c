// The entry point of every test executable. The environment a suite needs is compiled in
// (QUIRVEL_TEST_ENV, "NAME=value" pairs separated by '|'), so the suites behave the same
// under ctest, under a debugger and when started by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifndef QUIRVEL_TEST_ENV
#define QUIRVEL_TEST_ENV ""
#endif

int main(int argc, char** argv) {
  // Widget tests never need a display unless a test asks for one itself.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::string env = QUIRVEL_TEST_ENV;
  size_t start = 0;
  while (start < env.size()) {
    size_t end = env.find('|', start);
    if (end == std::string::npos) end = env.size();
    const std::string pair = env.substr(start, end - start);
    const size_t eq = pair.find('=');
    if (eq != std::string::npos && eq > 0) setenv(pair.substr(0, eq).c_str(), pair.substr(eq + 1).c_str(), 1);
    start = end + 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
