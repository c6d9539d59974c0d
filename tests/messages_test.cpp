// Notification windows and the thread's message loop.
#include "platform/messages.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

using platform::TMessage;

struct delivered {
  platform::HWND window;
  TMessage message;
};

// A window that records what it gets.
class recording_window {
 public:
  explicit recording_window(std::vector<delivered>* log)
      : window_(platform::AllocateHWnd([this, log](TMessage& m) { log->push_back({window_, m}); })) {}
  ~recording_window() { platform::DeallocateHWnd(window_); }
  platform::HWND handle() const { return window_; }

 private:
  platform::HWND window_;
};

TEST(MessageLoop, DeliversInPostingOrderAcrossWindows) {
  std::vector<delivered> log;
  recording_window a(&log), b(&log);
  platform::PostMessageA(a.handle(), 1281, 7, platform::MakeLParam(128, 3));
  platform::PostMessageA(b.handle(), 1280, 0, 0);
  platform::PostMessageA(a.handle(), 17, -1, -2);
  EXPECT_EQ(platform::ProcessMessages(), 3);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].window, a.handle());
  EXPECT_EQ(log[0].message.Msg, 1281u);
  EXPECT_EQ(log[0].message.WParam, 7);
  EXPECT_EQ(platform::LParamLo(log[0].message), 128);
  EXPECT_EQ(platform::LParamHi(log[0].message), 3);
  EXPECT_EQ(log[1].window, b.handle());
  EXPECT_EQ(log[1].message.Msg, 1280u);
  EXPECT_EQ(log[2].message.WParam, -1);
  EXPECT_EQ(log[2].message.LParam, -2);
  EXPECT_EQ(platform::ProcessMessages(), 0);
}

TEST(MessageLoop, MessagesPostedWhileDeliveringWaitForTheNextPass) {
  int seen = 0;
  platform::HWND window = 0;
  window = platform::AllocateHWnd([&](TMessage& m) {
    ++seen;
    if (m.WParam < 3) platform::PostMessageA(window, 1281, m.WParam + 1, 0);
  });
  platform::PostMessageA(window, 1281, 0, 0);
  EXPECT_EQ(platform::ProcessMessages(), 1);
  EXPECT_EQ(platform::ProcessMessages(), 1);
  EXPECT_TRUE(platform::RunMessageLoop([&] { return seen == 4; }, 10000));
  platform::DeallocateHWnd(window);
}

TEST(MessageLoop, DestroyedWindowLosesItsQueuedMessages) {
  std::vector<delivered> log;
  auto window = std::make_unique<recording_window>(&log);
  platform::PostMessageA(window->handle(), 1281, 0, 0);
  const platform::HWND gone = window->handle();
  window.reset();
  EXPECT_EQ(platform::ProcessMessages(), 0);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(platform::PostMessageA(gone, 1281, 0, 0));
}

TEST(MessageLoop, SendMessageDeliversAtOnceAndReturnsTheResult) {
  platform::HWND window = platform::AllocateHWnd([](TMessage& m) { m.Result = m.WParam * 2; });
  EXPECT_EQ(platform::SendMessageA(window, 17, 21, 0), 42);
  EXPECT_EQ(platform::ProcessMessages(), 0);
  platform::DeallocateHWnd(window);
  EXPECT_EQ(platform::SendMessageA(window, 17, 21, 0), 0);
}

TEST(MessageLoop, PostFromAnotherThreadReachesTheWindowsThread) {
  std::vector<delivered> log;
  recording_window window(&log);
  const auto owner = std::this_thread::get_id();
  std::thread::id delivered_on;
  platform::HWND checker = platform::AllocateHWnd([&](TMessage&) {
    delivered_on = std::this_thread::get_id();
  });
  std::thread poster([&] {
    platform::PostMessageA(window.handle(), 1280, 1, 2);
    platform::PostMessageA(checker, 1280, 0, 0);
  });
  poster.join();
  EXPECT_TRUE(platform::WaitMessage(10000));
  EXPECT_TRUE(platform::RunMessageLoop([&] { return log.size() == 1; }, 10000));
  platform::ProcessMessages();
  EXPECT_EQ(delivered_on, owner);
  platform::DeallocateHWnd(checker);
}

TEST(MessageLoop, WaitGivesUpWhenNothingComes) {
  EXPECT_FALSE(platform::WaitMessage(0));
  EXPECT_FALSE(platform::RunMessageLoop([] { return false; }, 20));
}

}  // namespace
