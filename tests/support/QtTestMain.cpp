// gtest main for tests that need a QApplication (offscreen unless a platform is set).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "device/SerialChannel.h"

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // The suite's plates are virtual: pseudo-terminals open as ports, as in a demonstration.
    kelvaro::AllowPseudoTerminalPorts(true);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
