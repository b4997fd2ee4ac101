#include "core/stores/SettingsStore.h"
#include "core/texts/Lang.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using tlr::AppLanguage;
using tlr::Lang;
using tlr::SettingsStore;

// Readers on other threads must see a language change as soon as the
// assignment on the main thread has returned. `phase` works as a sequence
// lock: odd while an assignment runs, even (2k) once assignment k is done.
TEST(LangCurrent, OtherThreadsSeeAnAssignmentOnceItReturns) {
  tlr::test::TempHome home;
  SettingsStore settings;
  std::atomic<int> phase{0};
  std::atomic<bool> stop{false};
  std::atomic<long> checked{0};
  std::atomic<long> wrong{0};

  const auto expectedAt = [](int stablePhase) {
    return (stablePhase / 2) % 2 == 1 ? AppLanguage::en : AppLanguage::zh;
  };
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        const int before = phase.load(std::memory_order_acquire);
        const AppLanguage read = Lang::current();
        const int after = phase.load(std::memory_order_acquire);
        if (before != after || before % 2 != 0) continue;
        if (read != expectedAt(before)) wrong.fetch_add(1);
        checked.fetch_add(1);
      }
    });
  }

  constexpr int kAssignments = 60;
  for (int k = 1; k <= kAssignments; ++k) {
    phase.store(2 * k - 1, std::memory_order_release);
    settings.setLanguage(k % 2 == 1 ? AppLanguage::en : AppLanguage::zh);
    const long checkedBefore = checked.load();
    phase.store(2 * k, std::memory_order_release);
    // Let the readers check this value before the next change.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (checked.load() < checkedBefore + 4 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
  }
  stop.store(true);
  for (auto& reader : readers) reader.join();

  EXPECT_GE(checked.load(), kAssignments);
  EXPECT_EQ(wrong.load(), 0);
}
