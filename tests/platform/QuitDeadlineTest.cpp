// The deadline that ends a quit which does not end by itself: it expires on
// time, and never inside the leak check of a sanitized build, whose time is
// not the quit's (a stand-in check here, held open by the test).
#include "platform/QuitDeadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace std::chrono_literals;
namespace QuitDeadline = tlr::QuitDeadline;
using Clock = QuitDeadline::Clock;

namespace {

// A deadline armed for `at`, and when it expired.
struct Armed {
  explicit Armed(Clock::time_point at) : deadline(at) {
    QuitDeadline::arm(at, [expired = expired] { expired->set_value(Clock::now()); });
  }
  Clock::time_point deadline;
  std::shared_ptr<std::promise<Clock::time_point>> expired = std::make_shared<std::promise<Clock::time_point>>();
  std::future<Clock::time_point> when = expired->get_future();
};

}  // namespace

TEST(QuitDeadline, ExpiresOnTimeButNeverInsideACheckWhoseTimeItDoesNotCount) {
  {
    Armed armed(Clock::now() + 50ms);
    ASSERT_EQ(armed.when.wait_for(10s), std::future_status::ready);
    EXPECT_GE(armed.when.get(), armed.deadline);
  }

  // A check that runs across the deadline, until the test lets it end.
  std::promise<void> release;
  std::promise<Clock::time_point> entered;
  Clock::time_point left;
  std::thread check([&] {
    QuitDeadline::runUncounted([&, go = release.get_future().share()] {
      entered.set_value(Clock::now());
      go.wait();
      left = Clock::now();
    });
  });
  const Clock::time_point inside = entered.get_future().get();
  Armed armed(Clock::now() + 20ms);
  // Well past the deadline, the check still runs: the deadline waits.
  EXPECT_EQ(armed.when.wait_until(armed.deadline + 300ms), std::future_status::timeout);
  release.set_value();
  check.join();
  ASSERT_EQ(armed.when.wait_for(10s), std::future_status::ready);
  // Moved later by the check's whole length.
  EXPECT_GE(armed.when.get(), armed.deadline + (left - inside));
}
