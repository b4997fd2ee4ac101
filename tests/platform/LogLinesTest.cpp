#include "platform/Log.h"

#include "support/TestSupport.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <functional>

#include <unistd.h>

namespace {

using tlr::test::capture;

}  // namespace

// A "latest_version" from the network holding a line feed used to write a
// line of its own into the log, one that looked like the application's.
TEST(LogLines, TextFromOutsideNeverStartsALineOrSteersTheTerminal) {
  const QString hostile =
      QStringLiteral("9.9\n[Event] fake · exitedAbnormal · forged line\r\x1b[2J\u2028\u0085end\tx");
  const QByteArray expected =
      QStringLiteral("9.9\\n[Event] fake · exitedAbnormal · forged line\\r\\x1b[2J\\u2028\\x85end\tx").toUtf8();
  EXPECT_EQ(capture(STDOUT_FILENO, [&] { tlr::log("[Vornel] ", QStringLiteral("update available: ") + hostile); }),
            "[Vornel] update available: " + expected + '\n');
  EXPECT_EQ(capture(STDERR_FILENO, [&] { tlr::errLine(QStringLiteral("[Discovery] ") + hostile); }),
            "[Discovery] " + expected + '\n');
  // A store of megabytes used to go into one line whole.
  const QString huge(9000, QChar(u'x'));
  EXPECT_EQ(capture(STDOUT_FILENO, [&] { tlr::log("[LockOnline] ", huge); }),
            "[LockOnline] " + QByteArray(8192 - 13, 'x') + QStringLiteral("…（另有 821 字符未写出）\n").toUtf8());
}
