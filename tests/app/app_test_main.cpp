// The app tests run on a Qt event loop: timers, network replies and queued calls need a
// QCoreApplication on the main thread, as in the application.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
