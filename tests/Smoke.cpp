#include <gtest/gtest.h>
#include "vembro/com/Module.h"
TEST(Smoke, ModuleLockStartsAtZero) { EXPECT_EQ(0, vembro::ModuleLockCount()); }
