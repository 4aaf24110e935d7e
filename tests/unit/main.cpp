// Test entry point. The tests run under Wine against the real Win32 API in
// the test bench's prefix.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
