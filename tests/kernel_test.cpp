#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/strings.h"
#include "engine/wrapper.h"
#include "test_support.h"

using engine::core::Exception;
using engine::core::Kernel;
using engine::core::Module;
using velox_test::MessageBoxRecorder;
using velox_test::ScopedWorkDir;

namespace {

using Events = std::vector<std::string>;

// A module whose behaviour is set per test; every call is recorded.
class ScriptModule : public Module {
 public:
  ScriptModule(const std::string& name, int priority, Events* events)
      : mTag(name), mEvents(events) {
    mName = engine::ToWide(name);
    mPriority = priority;
  }

  bool Start() override {
    mEvents->push_back(mTag + ":start");
    if (onStart) onStart();
    return true;
  }
  void Update() override {
    ++updates;
    mEvents->push_back(mTag + ":update");
    if (onUpdate) onUpdate(updates);
    mEvents->push_back(mTag + ":updated");
  }
  void Stop() override {
    ++stops;
    mEvents->push_back(mTag + ":stop");
    if (onStop) onStop();
  }

  std::function<void()> onStart;
  std::function<void(int frame)> onUpdate;
  std::function<void()> onStop;
  int updates = 0;
  int stops = 0;

 private:
  std::string mTag;
  Events* mEvents;
};

struct Row {
  std::string type;
  std::string message;
};

// Type and message of every row between the header and the footer.
std::vector<Row> ParseRows(const std::string& rows) {
  std::vector<Row> out;
  std::size_t pos = 0;
  while (pos < rows.size()) {
    const auto end = rows.find("</td></tr>\n", pos);
    if (end == std::string::npos) break;
    const std::string row = rows.substr(pos, end - pos);
    Row r;
    r.type = row.find("MESSAGE") != std::string::npos   ? "MESSAGE"
             : row.find("WARNING") != std::string::npos ? "WARNING"
                                                        : "ERROR";
    std::size_t cell = 0;
    for (int i = 0; i < 3; ++i) cell = row.find("</td><td>", cell) + 9;
    r.message = row.substr(cell);
    out.push_back(r);
    pos = end + 11;
  }
  return out;
}

class KernelTest : public ::testing::Test {
 protected:
  void TearDown() override { delete Kernel::Get(); }

  // Runs the loop; a kernel that never stops fails the test instead of
  // hanging it.
  void RunWithGuard(int maxFrames = 100) {
    ScriptModule guard("guard", 1 << 30, &mIgnored);
    int frames = 0;
    guard.onUpdate = [&](int) {
      if (++frames > maxFrames) throw std::runtime_error("main loop did not end");
    };
    Kernel::Get()->AddModule(&guard, -1);
    Kernel::Get()->Run();
  }

  std::vector<Row> Rows() { return ParseRows(velox_test::CloseLogAndReadRows(mDir.Path())); }

  ScopedWorkDir mDir;
  MessageBoxRecorder mBoxes;
  Events mEvents;
  Events mIgnored;
};

TEST_F(KernelTest, RunsByPriorityWithEqualPrioritiesInRegistrationOrder) {
  ScriptModule late("late", 300, &mEvents), first("first", 100, &mEvents),
      mid("mid", 200, &mEvents), second("second", 100, &mEvents);
  late.onUpdate = [](int) { engine::QuitApplication(); };
  Kernel::Get()->AddModule(&late, 1);
  Kernel::Get()->AddModule(&first, 2);
  Kernel::Get()->AddModule(&mid, 3);
  // A priority changed after registration takes effect at the next
  // registration's sort, not before.
  late.Priority(50);
  Kernel::Get()->AddModule(&second, 4);
  RunWithGuard();

  const Events expected = {
      "late:start",  "first:start",  "mid:start",  "second:start",  // at registration
      "late:update", "late:updated",                                 // priority 50 now
      "first:update", "first:updated", "second:update", "second:updated",
      "mid:update",  "mid:updated",                                  // then the kill
      "late:stop",   "first:stop",   "second:stop", "mid:stop"};
  EXPECT_EQ(mEvents, expected);
}

TEST_F(KernelTest, LogsEveryStepOfTheLifecycle) {
  ScriptModule a("Alpha", 10, &mEvents);
  a.onUpdate = [](int) { engine::QuitApplication(); };
  engine::AddModule(&a, 7);
  Kernel::Get()->Run();

  const auto rows = Rows();
  std::vector<std::string> messages;
  for (const auto& r : rows) {
    EXPECT_EQ(r.type, "MESSAGE") << r.message;
    messages.push_back(r.message);
  }
  const std::vector<std::string> expected = {"Adding new module Alpha",
                                             "Module Alpha sucessfully started",
                                             "Starting main loop", "Quit called",
                                             "Killing all modules"};
  EXPECT_EQ(messages, expected);
}

TEST_F(KernelTest, DuplicateKeyKeepsFirstModuleButRunsBoth) {
  ScriptModule a("a", 1, &mEvents), b("b", 2, &mEvents);
  b.onUpdate = [](int) { engine::QuitApplication(); };
  Kernel::Get()->AddModule(&a, 5);
  Kernel::Get()->AddModule(&b, 5);
  EXPECT_EQ(Kernel::Get()->FindModule(5), &a);
  EXPECT_EQ(Kernel::Get()->FindModule(6), nullptr);
  RunWithGuard();
  EXPECT_EQ(a.updates, 1);
  EXPECT_EQ(b.updates, 1);
  EXPECT_EQ(b.stops, 1);
  // The key map survives the kill: the teardown looks modules up after Run.
  EXPECT_EQ(Kernel::Get()->FindModule(5), &a);
}

TEST_F(KernelTest, ModuleThatDiesInItsOwnUpdateFinishesItAndIsStoppedLast) {
  ScriptModule a("a", 1, &mEvents), dying("dying", 2, &mEvents), c("c", 3, &mEvents);
  dying.onUpdate = [&](int) { dying.SetAlive(false); };
  c.onUpdate = [](int frame) {
    if (frame == 3) engine::QuitApplication();
  };
  Kernel::Get()->AddModule(&a, 1);
  Kernel::Get()->AddModule(&dying, 2);
  Kernel::Get()->AddModule(&c, 3);
  RunWithGuard();

  EXPECT_EQ(dying.updates, 1);
  EXPECT_EQ(a.updates, 3);
  EXPECT_EQ(c.updates, 3);  // the module after the dead one is still visited
  const Events tail(mEvents.end() - 3, mEvents.end());
  EXPECT_EQ(tail, (Events{"a:stop", "c:stop", "dying:stop"}));
  EXPECT_EQ(std::count(mEvents.begin(), mEvents.end(), "dying:updated"), 1);
}

TEST_F(KernelTest, DeadLastModuleIsRemovedAndFramesGoOn) {
  ScriptModule a("a", 1, &mEvents), last("last", 2, &mEvents);
  last.SetAlive(false);
  a.onUpdate = [](int frame) {
    if (frame == 2) engine::QuitApplication();
  };
  Kernel::Get()->AddModule(&a, 1);
  Kernel::Get()->AddModule(&last, 2);
  Kernel::Get()->Run();
  EXPECT_EQ(a.updates, 2);
  EXPECT_EQ(last.updates, 0);
  EXPECT_EQ(last.stops, 1);
}

TEST_F(KernelTest, QuitFromUpdateFinishesTheFrameAndNothingRunsAgain) {
  ScriptModule a("a", 1, &mEvents), b("b", 2, &mEvents);
  a.onUpdate = [](int) { engine::QuitApplication(); };
  Kernel::Get()->AddModule(&a, 1);
  Kernel::Get()->AddModule(&b, 2);
  RunWithGuard();
  EXPECT_EQ(a.updates, 1);
  EXPECT_EQ(b.updates, 1);
  EXPECT_EQ(a.stops, 1);
  EXPECT_EQ(b.stops, 1);
}

TEST_F(KernelTest, QuitBeforeRunStopsEverythingWithoutAnUpdate) {
  ScriptModule a("a", 1, &mEvents);
  Kernel::Get()->AddModule(&a, 1);
  engine::QuitApplication();
  Kernel::Get()->Run();
  EXPECT_EQ(a.updates, 0);
  EXPECT_EQ(a.stops, 1);
}

TEST_F(KernelTest, ExceptionInFirstModuleSkipsTheRestOfThatFrameOnly) {
  ScriptModule a("a", 1, &mEvents), b("b", 2, &mEvents);
  a.onUpdate = [](int frame) {
    if (frame == 1) throw Exception(L"bad <thing> & co", L"somewhere.cpp:12");
    if (frame == 3) engine::QuitApplication();
  };
  Kernel::Get()->AddModule(&a, 1);
  Kernel::Get()->AddModule(&b, 2);
  RunWithGuard();

  EXPECT_EQ(a.updates, 3);
  EXPECT_EQ(b.updates, 2);  // skipped in frame 1 only
  ASSERT_EQ(mBoxes.boxes.size(), 1u);
  EXPECT_EQ(mBoxes.boxes[0].owner, nullptr);
  EXPECT_EQ(mBoxes.boxes[0].text, L"bad <thing> & co");
  EXPECT_EQ(mBoxes.boxes[0].caption, L"somewhere.cpp:12");

  int warnings = 0;
  for (const auto& r : Rows()) {
    if (r.type != "WARNING") continue;
    ++warnings;
    EXPECT_EQ(r.message,
              "Caught exception in main game loop: \"bad <thing> & co\" in somewhere.cpp:12");
  }
  EXPECT_EQ(warnings, 1);
}

TEST_F(KernelTest, FailingStartIsReportedAndTheModuleStillRuns) {
  ScriptModule broken("Broken", 1, &mEvents);
  broken.onStart = [] { ENGINE_ERROR("no device"); };
  broken.onUpdate = [](int) { engine::QuitApplication(); };
  Kernel::Get()->AddModule(&broken, 1);
  RunWithGuard();

  EXPECT_EQ(broken.updates, 1);
  EXPECT_EQ(broken.stops, 1);
  ASSERT_EQ(mBoxes.boxes.size(), 1u);
  EXPECT_EQ(mBoxes.boxes[0].owner, platform::MainWindow());
  EXPECT_EQ(mBoxes.boxes[0].text, L"no device");
  EXPECT_EQ(mBoxes.boxes[0].caption.rfind(L"tests/kernel_test.cpp:", 0), 0u)
      << engine::ToNarrow(mBoxes.boxes[0].caption);

  const auto rows = Rows();
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(rows[0].message, "Adding new module Broken");
  EXPECT_EQ(rows[1].type, "ERROR");
  EXPECT_EQ(rows[1].message, "no device");
  EXPECT_EQ(rows[2].type, "WARNING");
  EXPECT_EQ(rows[2].message, "Failed to start moduleBroken");
  for (const auto& r : rows) EXPECT_NE(r.message, "Module Broken sucessfully started");
}

TEST_F(KernelTest, ThrowingStopDoesNotKeepTheLoopAliveOrStopTwice) {
  ScriptModule a("a", 1, &mEvents), b("b", 2, &mEvents), dead("dead", 3, &mEvents);
  a.onUpdate = [](int) { engine::QuitApplication(); };
  a.onStop = [] { throw Exception(L"stop failed", L"a"); };
  dead.SetAlive(false);
  Kernel::Get()->AddModule(&a, 1);
  Kernel::Get()->AddModule(&b, 2);
  Kernel::Get()->AddModule(&dead, 3);
  RunWithGuard();
  EXPECT_EQ(a.stops, 1);
  EXPECT_EQ(b.stops, 1);
  EXPECT_EQ(dead.stops, 1);
  EXPECT_EQ(mBoxes.boxes.size(), 1u);
}

TEST_F(KernelTest, SingletonIsSharedAcrossTheLibraryBoundaryAndRecreatedAfterDelete) {
  // engine::AddModule reaches the kernel from inside the library; the test
  // reaches it through the template in this program.
  ScriptModule a("a", 1, &mEvents);
  engine::AddModule(&a, 42);
  EXPECT_EQ(Kernel::Get()->FindModule(42), &a);

  Kernel* before = Kernel::Get();
  EXPECT_EQ(Kernel::Get(), before);  // one instance until deleted
  delete before;
  Kernel* fresh = Kernel::Get();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->FindModule(42), nullptr);
}

// Directly constructed singletons register themselves too.
class Counter : public engine::pattern::Singleton<Counter> {
 public:
  Counter() { ++constructed; }
  static int constructed;
};
int Counter::constructed = 0;

class SecondBase {
 public:
  virtual ~SecondBase() = default;
  int padding = 7;
};

// A singleton that is not the first base sits at an offset inside T.
class Offset : public SecondBase, public engine::pattern::Singleton<Offset> {};

TEST(SingletonTest, FirstGetCreatesAndConstructionRegisters) {
  Counter* a = Counter::Get();
  EXPECT_EQ(Counter::Get(), a);
  EXPECT_EQ(Counter::constructed, 1);
  delete a;
  auto* direct = new Counter;
  EXPECT_EQ(Counter::Get(), direct);
  EXPECT_EQ(Counter::constructed, 2);
  delete direct;

  auto* offset = new Offset;
  EXPECT_EQ(Offset::Get(), offset);
  EXPECT_EQ(Offset::Get()->padding, 7);
  delete offset;
}

TEST(CreatorTest, EveryCallMakesANewObject) {
  struct Thing {
    int value = 3;
  };
  Thing* a = engine::pattern::Creator<Thing>::CreateInstance();
  Thing* b = engine::pattern::Creator<Thing>::CreateInstance();
  EXPECT_NE(a, b);
  EXPECT_EQ(a->value, 3);
  delete a;
  delete b;
}

}  // namespace
