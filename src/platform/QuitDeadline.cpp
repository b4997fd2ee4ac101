#include "platform/QuitDeadline.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define TLR_HAS_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define TLR_HAS_LEAK_CHECK 1
#endif
#endif
#ifdef TLR_HAS_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace tlr::QuitDeadline {
namespace {

// Whether a check runs, and how long the checks so far took. Never
// destroyed: the deadline's thread may still read it while the process
// ends.
struct Checks {
  std::mutex lock;
  std::condition_variable changed;
  int running = 0;
  Clock::duration spent{};

  static Checks& instance() {
    static Checks* checks = new Checks;
    return *checks;
  }

  Clock::duration spentSoFar() {
    std::lock_guard guard(lock);
    return spent;
  }
  // Waits until no check runs; the time checks have taken.
  Clock::duration settled() {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return running == 0; });
    return spent;
  }
};

}  // namespace

void arm(Clock::time_point deadline, std::function<void()> expire) {
  Checks& checks = Checks::instance();
  std::thread([&checks, deadline, before = checks.spentSoFar(), expire = std::move(expire)] {
    Clock::time_point due = deadline;
    while (true) {
      std::this_thread::sleep_until(due);
      due = deadline + (checks.settled() - before);
      if (Clock::now() >= due) break;
    }
    expire();
  }).detach();
}

void runUncounted(const std::function<void()>& check) {
  Checks& checks = Checks::instance();
  {
    std::lock_guard guard(checks.lock);
    ++checks.running;
  }
  const Clock::time_point began = Clock::now();
  check();
  {
    std::lock_guard guard(checks.lock);
    --checks.running;
    checks.spent += Clock::now() - began;
  }
  checks.changed.notify_all();
}

void checkLeaks() {
#ifdef TLR_HAS_LEAK_CHECK
  runUncounted([] { __lsan_do_leak_check(); });
#endif
}

}  // namespace tlr::QuitDeadline
