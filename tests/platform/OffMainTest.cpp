// The pool that work leaves the main thread on: its tasks run, and once it
// is cancelled the children of running tasks are stopped (also one that
// ignores SIGTERM), nothing new starts, and waits end early.
#include "platform/ChildProcess.h"
#include "platform/OffMain.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <memory>
#include <thread>

using tlr::ChildResult;
using tlr::ChildSpec;
using tlr::OffMainPool;
using namespace std::chrono_literals;

namespace {

bool alive(pid_t pid) { return ::kill(pid, 0) == 0; }

// A shell that records the pid of a background `sleep 100` in `pidFile`
// and waits for it; with `ignoreTerm` the shell ignores SIGTERM.
ChildSpec longChild(const QString& pidFile, bool ignoreTerm) {
  ChildSpec spec;
  spec.program = QStringLiteral("/bin/sh");
  spec.arguments = {QStringLiteral("-c"),
                    QStringLiteral("%1sleep 100 & echo $! > '%2'; wait")
                        .arg(ignoreTerm ? QStringLiteral("trap '' TERM; ") : QString(), pidFile)};
  return spec;
}

struct Outcome {
  ChildResult first;
  ChildResult afterCancel;
};

}  // namespace

TEST(OffMainPool, RunsTasksOffTheCallingThreadAndWaitsForThem) {
  OffMainPool pool;
  std::atomic<int> ran{0};
  std::atomic<bool> onPool{true};
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(pool.start([&] {
      if (!OffMainPool::onPoolThread() || OffMainPool::currentIsCancelled()) onPool = false;
      ++ran;
    }));
  EXPECT_TRUE(pool.waitForIdle(OffMainPool::Clock::now() + 10s));
  EXPECT_EQ(ran, 40);
  EXPECT_TRUE(onPool);
  EXPECT_FALSE(OffMainPool::onPoolThread());
  EXPECT_EQ(pool.busyCount(), 0);
}

TEST(OffMainPool, CancellingStopsTheProcessGroupsOfRunningChildrenAndRefusesNewOnes) {
  tlr::test::TempHome home;
  for (const bool ignoreTerm : {false, true}) {
    OffMainPool pool;
    const QString pidFile = home.path() + (ignoreTerm ? "/stubborn.pid" : "/plain.pid");
    std::promise<Outcome> outcome;
    ASSERT_TRUE(pool.start([&] {
      Outcome o;
      o.first = tlr::runChild(longChild(pidFile, ignoreTerm));
      ChildSpec again;
      again.program = QStringLiteral("/bin/true");
      o.afterCancel = tlr::runChild(again);
      outcome.set_value(o);
    }));
    ASSERT_TRUE(tlr::test::waitUntil([&] { return !tlr::test::readFile(pidFile).trimmed().isEmpty(); }));
    const pid_t sleeper = static_cast<pid_t>(tlr::test::readFile(pidFile).trimmed().toInt());
    ASSERT_TRUE(alive(sleeper));

    pool.cancel();
    // Far below the child's own 5-second grace and its 100 seconds.
    EXPECT_TRUE(pool.waitForIdle(OffMainPool::Clock::now() + 3s)) << "ignoring SIGTERM: " << ignoreTerm;
    std::future<Outcome> result = outcome.get_future();
    ASSERT_EQ(result.wait_for(0s), std::future_status::ready);
    const Outcome o = result.get();
    EXPECT_TRUE(o.first.started);
    EXPECT_TRUE(o.first.cancelled);
    EXPECT_EQ(o.first.termSignal(), ignoreTerm ? SIGKILL : SIGTERM);
    EXPECT_TRUE(tlr::test::waitUntil([&] { return !alive(sleeper); }, 3s)) << "its background sleep went with it";
    EXPECT_FALSE(o.afterCancel.started);
    EXPECT_TRUE(o.afterCancel.cancelled);
    EXPECT_FALSE(o.afterCancel.startError.isEmpty());
    EXPECT_FALSE(pool.start([] {})) << "a cancelled pool starts nothing";
  }
}

TEST(OffMainPool, CancellingEndsPausesAndDetachedStartsOfItsTasks) {
  OffMainPool pool;
  std::promise<bool> paused;
  std::promise<tlr::Expected<pid_t, QString>> spawned;
  std::atomic<bool> started{false};
  ASSERT_TRUE(pool.start([&] {
    started = true;
    paused.set_value(OffMainPool::pause(100s));
    ChildSpec spec;
    spec.program = QStringLiteral("/bin/true");
    spawned.set_value(tlr::spawnDetached(spec, QString()));
  }));
  ASSERT_TRUE(tlr::test::waitUntil([&] { return started.load(); }));
  pool.cancel();
  ASSERT_TRUE(pool.waitForIdle(OffMainPool::Clock::now() + 3s));
  EXPECT_FALSE(paused.get_future().get()) << "the pause ended early";
  const auto detached = spawned.get_future().get();
  EXPECT_FALSE(detached);
  EXPECT_FALSE(detached.error().isEmpty());
  // Outside a pool a pause is a plain wait, and children run as always.
  EXPECT_TRUE(OffMainPool::pause(1ms));
  ChildSpec spec;
  spec.program = QStringLiteral("/bin/true");
  EXPECT_TRUE(tlr::runChild(spec).started);
}

// startOffMain(context, work, then) with a result and without one, and
// whileAlive reports made along the way: both reach the window thread, the
// reports in order and before `then`, but only while the context lives (a
// null context is the application's); the work runs to its end either way.
// A second start quitting at once ended with SIGSEGV: a pool thread that had
// drawn text was still tearing down its thread-local font cache while the
// toolkit's application object went. At quit the application waits for the
// threads to have ended, their thread-local data included, not merely for
// the pool to be idle.
TEST(OffMainPool, ThreadsEndWithTheirThreadLocalDataBeforeTheyCountAsEnded) {
  std::promise<void> tearing, mayEnd;
  std::shared_future<void> allowed = mayEnd.get_future().share();
  std::atomic<bool> tornDown{false};
  struct ThreadData {
    std::promise<void>* tearing = nullptr;
    std::shared_future<void>* allowed = nullptr;
    std::atomic<bool>* tornDown = nullptr;
    ~ThreadData() {
      if (!allowed) return;
      tearing->set_value();
      allowed->wait();
      tornDown->store(true);
    }
  };
  OffMainPool pool;
  ASSERT_TRUE(pool.start([&] {
    thread_local ThreadData data;
    data.tearing = &tearing;
    data.allowed = &allowed;
    data.tornDown = &tornDown;
  }));
  ASSERT_TRUE(pool.waitForIdle(OffMainPool::Clock::now() + 10s));
  pool.cancel();
  // The thread has left its loop and tears down what it kept.
  ASSERT_EQ(tearing.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(pool.waitForIdle(OffMainPool::Clock::now())) << "idle, though its thread still tears down";
  EXPECT_FALSE(pool.waitForThreadsToEnd(OffMainPool::Clock::now())) << "its thread has not ended yet";
  mayEnd.set_value();
  EXPECT_TRUE(pool.waitForThreadsToEnd(OffMainPool::Clock::now() + 10s));
  EXPECT_TRUE(tornDown.load());
}

TEST(StartOffMain, ReportsAndThenReachTheWindowThreadOnlyWhileTheContextLives) {
  struct Case {
    const char* name;
    bool returnsValue;
    bool nullContext;
    bool contextDies;
  };
  for (const Case& c : {Case{"value", true, false, false}, Case{"void", false, false, false},
                        Case{"value, context gone", true, false, true}, Case{"void, context gone", false, false, true},
                        Case{"null context", true, true, false}}) {
    SCOPED_TRACE(c.name);
    auto context = std::make_unique<QObject>();
    QObject* bound = c.nullContext ? nullptr : context.get();
    struct Seen {
      std::atomic<bool> release{false};
      std::atomic<bool> workEnded{false};
      QList<int> reports;
      QStringList then;
      bool allOnMain = true;
    };
    auto seen = std::make_shared<Seen>();
    const auto report = tlr::whileAlive(bound, [seen](int n) {
      seen->allOnMain = seen->allOnMain && tlr::isMainThread();
      seen->reports << n;
    });
    const auto work = [seen, report] {
      report(1);
      report(2);
      while (!seen->release) std::this_thread::sleep_for(1ms);
      seen->workEnded = true;
    };
    const auto noteThen = [seen](const QString& what) {
      seen->allOnMain = seen->allOnMain && tlr::isMainThread();
      seen->then << what + QStringLiteral(" after %1 reports").arg(seen->reports.size());
    };
    const bool started = c.returnsValue ? tlr::startOffMain(
                                              bound,
                                              [work] {
                                                work();
                                                return QStringLiteral("answer");
                                              },
                                              noteThen)
                                        : tlr::startOffMain(bound, work, [noteThen] { noteThen("done"); });
    ASSERT_TRUE(started);
    if (c.contextDies) context.reset();
    seen->release = true;
    ASSERT_TRUE(tlr::test::waitUntil([&] { return seen->workEnded.load(); }));
    tlr::test::finishOffMainWork();
    EXPECT_TRUE(seen->allOnMain);
    if (c.contextDies) {
      EXPECT_TRUE(seen->reports.isEmpty());
      EXPECT_TRUE(seen->then.isEmpty());
    } else {
      EXPECT_EQ(seen->reports, (QList<int>{1, 2}));
      EXPECT_EQ(seen->then, QStringList{(c.returnsValue ? "answer" : "done") + QStringLiteral(" after 2 reports")});
    }
  }
}
