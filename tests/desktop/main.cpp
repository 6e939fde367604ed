#include "shell/Application.h"

#include <QApplication>
#include <gtest/gtest.h>

// Desktop tests run on the private X server that with-desktop starts.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    morvane::configureApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
