// The GUI tests' main: one application object for the whole run, on the offscreen platform.
#include <gtest/gtest.h>

#include "core/crypto/StrongCipher.h"
#include "gui/app/LudexApplication.h"

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    ludex::TLudexApplication application(argc, argv);
    // Strong keys at the least cost: the window tests encrypt and unlock many branches.
    const ludex::TStrongKeyCostForTests cheapKeys(ludex::kLeastKeyCost);
    return RUN_ALL_TESTS();
}
