// Runs the tests on the headless server's epoll event loop instead of Qt's.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "platform/loop/epoll_event_dispatcher.h"

int main(int argc, char* argv[]) {
  QCoreApplication::setEventDispatcher(new quorvane::EpollEventDispatcher);
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
