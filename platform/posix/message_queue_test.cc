// The queue rules, written once: this file runs against the portable queue on Linux and,
// included by win32/message_queue_test.cc, against USER32 under Wine.
#include "platform/message_queue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace platform {
namespace {

struct Seen {
  WindowHandle window;
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
  friend bool operator==(const Seen&, const Seen&) = default;
};

class MessageQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { Drain(); }
  void TearDown() override {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) DestroyProcWindow(*it);
    Drain();
  }

  static void Drain() {
    Message m;
    while (PeekMessageA(&m, nullptr, 0, 0, kPmRemove)) {
      if (m.message != kWmPaint) continue;
      DispatchMessageA(m);
    }
  }

  WindowHandle Window(WindowHandle parent = nullptr) {
    WindowHandle w = CreateProcWindow(
        parent, [this](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
          if (msg >= kWmUser || msg == kWmChar) seen_.push_back({h, msg, wp, lp});
          return msg == kWmUser + 7 ? 42 : 0;
        });
    EXPECT_NE(w, nullptr);
    windows_.push_back(w);
    return w;
  }

  // Takes and dispatches what the filter selects; returns the message numbers taken.
  std::vector<uint32_t> Pump(WindowHandle filter) {
    std::vector<uint32_t> taken;
    Message m;
    while (PeekMessageA(&m, filter, 0, 0, kPmRemove)) {
      taken.push_back(m.message);
      if (m.message == kWmQuit) continue;
      TranslateMessage(m);
      DispatchMessageA(m);
    }
    return taken;
  }

  std::vector<WindowHandle> windows_;
  std::vector<Seen> seen_;
};

TEST_F(MessageQueueTest, EmptyQueueGivesNothingAndLeavesMessageAlone) {
  Message m;
  m.message = 0x1234;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, kPmRemove));
  WindowHandle w = Window();
  EXPECT_FALSE(PeekMessageA(&m, w, 0, 0, kPmRemove));
}

TEST_F(MessageQueueTest, PostedMessagesComeOutInOrderWithTheirArguments) {
  WindowHandle w = Window();
  ASSERT_TRUE(PostMessageA(w, kWmUser + 1, 10, -20));
  ASSERT_TRUE(PostMessageA(w, kWmUser + 2, 30, 40));
  ASSERT_TRUE(PostMessageA(w, kWmUser + 1, 50, 60));
  EXPECT_THAT(Pump(w), ::testing::ElementsAre(kWmUser + 1, kWmUser + 2, kWmUser + 1));
  EXPECT_THAT(seen_,
              ::testing::ElementsAre(Seen{w, kWmUser + 1, 10, -20}, Seen{w, kWmUser + 2, 30, 40},
                                     Seen{w, kWmUser + 1, 50, 60}));
}

TEST_F(MessageQueueTest, WindowFilterTakesTheWindowAndItsChildrenOnly) {
  WindowHandle dialog = Window();
  WindowHandle child = Window(dialog);
  WindowHandle other = Window();
  PostMessageA(other, kWmUser + 1, 1, 0);
  PostMessageA(child, kWmUser + 2, 2, 0);
  PostMessageA(nullptr, kWmUser + 3, 3, 0);  // a thread message
  PostMessageA(dialog, kWmUser + 4, 4, 0);

  EXPECT_THAT(Pump(dialog), ::testing::ElementsAre(kWmUser + 2, kWmUser + 4));
  EXPECT_THAT(seen_, ::testing::ElementsAre(Seen{child, kWmUser + 2, 2, 0},
                                            Seen{dialog, kWmUser + 4, 4, 0}));
  // The null filter takes the rest, the thread message included.
  EXPECT_THAT(Pump(nullptr), ::testing::ElementsAre(kWmUser + 1, kWmUser + 3));
}

TEST_F(MessageQueueTest, QuitIsSeenByAWindowFilterAfterItsPostedMessages) {
  WindowHandle w = Window();
  PostQuitMessage(7);
  PostMessageA(w, kWmUser + 1, 0, 0);
  Message m;
  ASSERT_TRUE(PeekMessageA(&m, w, 0, 0, kPmRemove));
  EXPECT_EQ(m.message, kWmUser + 1);
  ASSERT_TRUE(PeekMessageA(&m, w, 0, 0, kPmRemove));
  EXPECT_EQ(m.message, kWmQuit);
  EXPECT_EQ(m.wparam, 7u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, kPmRemove));
}

TEST_F(MessageQueueTest, RangeAndNoRemoveSelectWithoutTaking) {
  WindowHandle w = Window();
  PostMessageA(w, kWmUser + 1, 0, 0);
  PostMessageA(w, kWmUser + 5, 0, 0);
  Message m;
  ASSERT_TRUE(PeekMessageA(&m, w, kWmUser + 5, kWmUser + 9, kPmNoRemove));
  EXPECT_EQ(m.message, kWmUser + 5);
  ASSERT_TRUE(PeekMessageA(&m, w, kWmUser + 5, kWmUser + 9, kPmRemove));
  EXPECT_EQ(m.message, kWmUser + 5);
  EXPECT_FALSE(PeekMessageA(&m, w, kWmUser + 5, kWmUser + 9, kPmRemove));
  EXPECT_THAT(Pump(w), ::testing::ElementsAre(kWmUser + 1));
}

TEST_F(MessageQueueTest, TranslateTurnsACharacterKeyIntoACharMessage) {
  WindowHandle w = Window();
  PostMessageA(w, kWmKeyDown, 'A', 0x001E0001);
  EXPECT_THAT(Pump(w), ::testing::ElementsAre(kWmKeyDown, kWmChar));
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].wparam, static_cast<uintptr_t>('a'));
  Message m{w, kWmUser, 0, 0};
  EXPECT_FALSE(TranslateMessage(m));
}

TEST_F(MessageQueueTest, MessagesPostedWhileDispatchingAreTakenByTheSameLoop) {
  WindowHandle w = CreateProcWindow(
      nullptr, [this](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t) -> intptr_t {
        if (msg == kWmUser && wp < 3) PostMessageA(h, kWmUser, wp + 1, 0);
        if (msg == kWmUser) seen_.push_back({h, msg, wp, 0});
        return 0;
      });
  windows_.push_back(w);
  PostMessageA(w, kWmUser, 0, 0);
  EXPECT_EQ(Pump(w).size(), 4u);
  EXPECT_EQ(seen_.back().wparam, 3u);
}

TEST_F(MessageQueueTest, DestroyedWindowTakesItsMessagesAndRefusesNewOnes) {
  WindowHandle parent = CreateProcWindow(
      nullptr, [](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  WindowHandle child = CreateProcWindow(
      parent, [](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  PostMessageA(child, kWmUser + 1, 0, 0);
  DestroyProcWindow(parent);
  Message m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, kWmUser, kWmUser + 10, kPmRemove));
  EXPECT_FALSE(PostMessageA(child, kWmUser + 1, 0, 0));
}

TEST_F(MessageQueueTest, SendRunsTheProcedureAtOnce) {
  WindowHandle w = Window();
  EXPECT_EQ(SendMessageA(w, kWmUser + 7, 1, 2), 42);
  EXPECT_THAT(seen_, ::testing::ElementsAre(Seen{w, kWmUser + 7, 1, 2}));
  Message m;
  EXPECT_FALSE(PeekMessageA(&m, w, 0, 0, kPmRemove));
}

TEST_F(MessageQueueTest, ExceptionOfAProcedureReachesTheDispatcher) {
  WindowHandle w =
      CreateProcWindow(nullptr, [](WindowHandle, uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
        if (msg == kWmUser) throw std::runtime_error("from the procedure");
        return 0;
      });
  windows_.push_back(w);
  PostMessageA(w, kWmUser, 0, 0);
  Message m;
  ASSERT_TRUE(PeekMessageA(&m, w, 0, 0, kPmRemove));
  EXPECT_EQ(DispatchDepth(), 0);
  EXPECT_THROW(DispatchMessageA(m), std::runtime_error);
  EXPECT_EQ(DispatchDepth(), 0);
  EXPECT_EQ(TakeCallbackException(), nullptr);
}

#ifndef _WIN32
// Hidden windows get no painting on Windows; the portable queue paints like a shown one.
TEST_F(MessageQueueTest, PaintComesAfterPostedMessagesAndOnlyOnce) {
  WindowHandle w = Window();
  WindowHandle list = Window(w);
  InvalidateWindow(list);
  PostMessageA(w, kWmUser + 1, 0, 0);
  EXPECT_THAT(Pump(w), ::testing::ElementsAre(kWmUser + 1, kWmPaint));
  EXPECT_TRUE(Pump(w).empty());
  InvalidateWindow(list);
  Message m;
  EXPECT_TRUE(PeekMessageA(&m, list, kWmPaint, kWmPaint, kPmRemove));
  EXPECT_TRUE(PeekMessageA(&m, list, kWmPaint, kWmPaint, kPmRemove));  // not painted yet
  DispatchMessageA(m);
  EXPECT_FALSE(PeekMessageA(&m, list, kWmPaint, kWmPaint, kPmRemove));
}
#endif

}  // namespace
}  // namespace platform
