#include "platform/Defaults.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <malloc.h>

#include <thread>
#include <vector>

using tlr::Defaults;
using tlr::test::TempHome;

namespace {

struct ToolResult {
  int exitCode;
  QString out;
};

ToolResult runTool(const QStringList& args) {
  QProcess p;
  p.start(tlr::test::toolPath("tlr_defaults_tool"), args);
  p.waitForFinished(10000);
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

}  // namespace

TEST(DefaultsTypes, ValuesKeepTheirJsonTypes) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  d.set("TLR.showInDock", false);
  d.set("TLR.language", "en");
  d.set("TLR.lockOnline.enabled", QJsonArray{"only-one"});
  d.set("TLR.count", 42);

  Defaults again(tlr::Paths::defaultsFile());
  EXPECT_EQ(again.boolean("TLR.showInDock"), std::optional<bool>(false));
  EXPECT_FALSE(again.string("TLR.showInDock").has_value()) << "a Boolean is not a text";
  EXPECT_EQ(again.string("TLR.language"), std::optional<QString>("en"));
  EXPECT_EQ(again.stringList("TLR.lockOnline.enabled"), std::optional<QStringList>(QStringList{"only-one"}));
  EXPECT_EQ(again.integer("TLR.count"), std::optional<qint64>(42));
  EXPECT_FALSE(again.contains("TLR.absent"));
  EXPECT_TRUE(again.value("TLR.absent").isUndefined());
}

TEST(DefaultsTypes, RemoveAndUndefinedDeleteTheKey) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  d.set("a", 1);
  d.set("b", 2);
  d.remove("a");
  d.set("b", QJsonValue(QJsonValue::Undefined));
  EXPECT_TRUE(Defaults(tlr::Paths::defaultsFile()).snapshot().isEmpty());
}

TEST(DefaultsFile, MalformedFileReadsEmptyAndIsReplacedOnWrite) {
  TempHome home;
  home.writeFile(".config/Tollamere/defaults.json", "{ not json");
  Defaults d(tlr::Paths::defaultsFile());
  EXPECT_TRUE(d.snapshot().isEmpty());
  ASSERT_TRUE(d.set("TLR.language", "zh"));
  EXPECT_EQ(Defaults(tlr::Paths::defaultsFile()).string("TLR.language"),
            std::optional<QString>("zh"));

  home.writeFile(".config/Tollamere/defaults.json", "[1,2,3]");
  EXPECT_TRUE(Defaults(tlr::Paths::defaultsFile()).snapshot().isEmpty())
      << "a JSON document that is not an object reads as empty";
}

TEST(DefaultsFile, FileIsPrivateToTheUser) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  d.set("k", "v");
  const auto perms = QFile::permissions(tlr::Paths::defaultsFile());
  EXPECT_FALSE(perms & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
}

TEST(DefaultsFile, SharedFollowsHome) {
  QString first;
  {
    TempHome home;
    Defaults::shared().set("k", "first");
    first = Defaults::shared().filePath();
  }
  TempHome other;
  EXPECT_NE(Defaults::shared().filePath(), first);
  EXPECT_FALSE(Defaults::shared().contains("k"));
}

TEST(DefaultsConcurrency, WritersOnManyThreadsLoseNothing) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&d, t] {
      for (int i = 0; i < 20; ++i) {
        d.set(QStringLiteral("t%1.k%2").arg(t).arg(i), i);
        (void)d.value(QStringLiteral("t%1.k%2").arg((t + 1) % 8).arg(i));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(Defaults(tlr::Paths::defaultsFile()).snapshot().size(), 160);
}

namespace {

size_t heapInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

}  // namespace

// The event log is stored again whole at every event, for the whole session.
TEST(DefaultsMemory, AReplacedValueIsGivenBack) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  const QString log(32 * 1024, QLatin1Char('e'));
  d.set(QStringLiteral("log"), log);
  const size_t before = heapInUse();
  for (int i = 0; i < 300; ++i) d.set(QStringLiteral("log"), log + QString::number(i));
  const size_t grown = heapInUse() > before ? heapInUse() - before : 0;
  EXPECT_LT(grown, size_t{2} * 1024 * 1024);
  EXPECT_EQ(Defaults(tlr::Paths::defaultsFile()).string(QStringLiteral("log")), log + QStringLiteral("299"));
}

TEST(DefaultsAcrossProcesses, AValueWrittenByOneProcessIsReadByAnother) {
  TempHome home;
  ASSERT_EQ(runTool({"set", "TLR.lockOnline.enabled", R"(["claude-code-cli"])"}).exitCode, 0);
  ASSERT_EQ(runTool({"set", "TLR.showInDock", "false"}).exitCode, 0);

  const ToolResult list = runTool({"get", "TLR.lockOnline.enabled"});
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_EQ(list.out, R"(["claude-code-cli"])") << "a one-element list stays a list";
  EXPECT_EQ(runTool({"get", "TLR.showInDock"}).out, "false");
  EXPECT_EQ(runTool({"get", "TLR.absent"}).exitCode, 3);

  // And this process sees what the others wrote.
  Defaults here(tlr::Paths::defaultsFile());
  EXPECT_EQ(here.boolean("TLR.showInDock"), std::optional<bool>(false));
}
