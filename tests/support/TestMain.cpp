// gtest main for tests without a QApplication.
#include <gtest/gtest.h>

#include "device/SerialChannel.h"

int main(int argc, char** argv) {
    // The suite's plates are virtual: pseudo-terminals open as ports, as in a demonstration.
    kelvaro::AllowPseudoTerminalPorts(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
