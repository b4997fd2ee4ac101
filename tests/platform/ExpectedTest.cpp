#include "platform/Expected.h"

#include <QString>

#include <gtest/gtest.h>

using tlr::Expected;
using tlr::Unexpected;

namespace {

Expected<int, QString> parsed(const QString& text) {
  bool number = false;
  const int n = text.toInt(&number);
  if (!number) return Unexpected(text + ": not a number");
  return n;
}

Expected<int, QString> positive(int n) {
  if (n <= 0) return Unexpected(QString::number(n) + ": not positive");
  return n;
}

}  // namespace

// A chain stops at its first failure and carries that failure on; the
// fallback stands in only for a failure.
TEST(Expected, AndThenPassesTheFirstFailureOnAndValueOrFallsBack) {
  EXPECT_EQ(parsed("7").and_then(positive).value(), 7);
  EXPECT_EQ(parsed("x").and_then(positive).error(), "x: not a number");
  EXPECT_EQ(parsed("-2").and_then(positive).error(), "-2: not positive");
  int calls = 0;
  const Expected<void, QString> failed = Unexpected(QStringLiteral("no"));
  const auto next = failed.and_then([&]() -> Expected<int, QString> { return ++calls; });
  EXPECT_EQ(next.error(), "no");
  EXPECT_EQ(calls, 0);
  const Expected<void, QString> succeeded;
  EXPECT_EQ(succeeded.and_then([&]() -> Expected<int, QString> { return ++calls; }).value(), 1);

  EXPECT_EQ(parsed("7").value_or(-1), 7);
  EXPECT_EQ(parsed("x").value_or(-1), -1);
  const Expected<QString, int> none = Unexpected(3);
  EXPECT_EQ(none.value_or("none"), "none");
}

// Asking a success for its error (or a failure for its value) read past a
// variant or an empty optional: it ends the process, in every build.
TEST(ExpectedDeathTest, TheErrorOfASuccessAndTheValueOfAFailureAreRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(static_cast<void>(parsed("7").error()), "error\\(\\) of a successful Expected");
  EXPECT_DEATH(static_cast<void>(Expected<void, QString>().error()), "error\\(\\) of a successful Expected");
  EXPECT_DEATH(static_cast<void>(parsed("x").value()), "value\\(\\) of a failed Expected");
}
