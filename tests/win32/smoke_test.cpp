#include <windows.h>
#include <gtest/gtest.h>

TEST(Win32Smoke, RunsUnderWine) { EXPECT_NE(GetACP(), 0u); }
