#include "platform/Defaults.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QJsonArray>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>
#include <sys/stat.h>

#include <atomic>
#include <future>
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
  ASSERT_TRUE(d.flush());

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
  ASSERT_TRUE(d.flush());
  EXPECT_TRUE(Defaults(tlr::Paths::defaultsFile()).snapshot().isEmpty());
}

// The files in the defaults folder other than defaults.json, with their bytes.
static QMap<QString, QByteArray> keptAside() {
  QMap<QString, QByteArray> kept;
  const QDir folder(QFileInfo(tlr::Paths::defaultsFile()).path());
  for (const QString& name : folder.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
    if (name == "defaults.json") continue;
    QFile file(folder.filePath(name));
    if (!QFileInfo(file).isFile()) {
      kept.insert(name, "(not a plain file)");
      continue;
    }
    kept.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)"));
  }
  return kept;
}

// A 62 MB lock-online set took 15 s and 1.5 GB before the first scan: a file
// over 4 MiB is kept aside unread.
TEST(DefaultsFile, AnUnreadableFileIsKeptAsideWithItsBytesBeforeANewOneIsWritten) {
  for (const QByteArray& broken :
       {QByteArray(R"({"TLR.language": "en", "my.own.key": [1, 2], "TLR.appearance": "da)"),
        QByteArray("{\"TLR.language\": \"en\xff\"}"), QByteArray("[1,2,3]"),
        "{\"TLR.lockOnline.enabled\": [\"" + QByteArray(4 * 1024 * 1024, 'a') + "\"]}"}) {
    TempHome home;
    home.writeFile(".config/Tollamere/defaults.json", broken);
    testing::internal::CaptureStdout();
    Defaults d(tlr::Paths::defaultsFile());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(d.snapshot().isEmpty());
    d.set("TLR.language", "zh");
    ASSERT_TRUE(d.flush());
    EXPECT_EQ(Defaults(tlr::Paths::defaultsFile()).string("TLR.language"), std::optional<QString>("zh"));

    const QMap<QString, QByteArray> kept = keptAside();
    ASSERT_EQ(kept.size(), 1) << broken.left(80).toStdString();
    EXPECT_TRUE(kept.firstKey().startsWith("defaults.json.unreadable-")) << kept.firstKey().toStdString();
    EXPECT_EQ(kept.first(), broken);
    EXPECT_NE(out.find("[Defaults] "), std::string::npos);
    EXPECT_NE(out.find(kept.firstKey().toStdString()), std::string::npos) << out;
  }
}

// A folder this process cannot change: without write permission for an
// ordinary user, immutable for root (whom permissions do not stop). Undone on
// destruction.
class FrozenFolder {
 public:
  explicit FrozenFolder(const QString& folder) : folder_(folder) {
    if (::geteuid() != 0)
      ok_ = QFile::setPermissions(folder_, QFile::ReadOwner | QFile::ExeOwner);
    else
      ok_ = QProcess::execute("chattr", {"+i", folder_}) == 0;
  }
  ~FrozenFolder() {
    if (::geteuid() != 0)
      QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    else if (ok_)
      QProcess::execute("chattr", {"-i", folder_});
  }
  bool ok() const { return ok_; }

 private:
  QString folder_;
  bool ok_ = false;
};

TEST(DefaultsFile, AnUnreadableFileThatCannotBeMovedIsNeverWrittenOver) {
  TempHome home;
  const QByteArray broken(R"({"TLR.language": "en", "mine": 1)");
  const QString path = home.writeFile(".config/Tollamere/defaults.json", broken);
  {
    FrozenFolder frozen(QFileInfo(path).path());
    if (!frozen.ok()) GTEST_SKIP() << "this file system cannot make a folder unchangeable (chattr +i failed)";
    testing::internal::CaptureStdout();
    Defaults d(path);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("保留原文件"), std::string::npos) << out;
    d.set("TLR.language", "zh");
    EXPECT_FALSE(d.flush());
    EXPECT_EQ(d.string("TLR.language"), std::optional<QString>("zh")) << "kept in memory";
  }
  EXPECT_EQ(tlr::test::readFile(path).toUtf8(), broken);
  EXPECT_TRUE(keptAside().isEmpty());
}

TEST(DefaultsFile, AWriteThatFailsIsSaidAndTheValueHoldsForTheRun) {
  TempHome home;
  Defaults d(home.path() + "/settings/defaults.json");
  home.writeFile("settings", "a file where the folder goes");
  testing::internal::CaptureStdout();
  d.set("k", "v");
  const tlr::Expected<void, QString> written = d.flush();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(written);
  EXPECT_NE(out.find("[Defaults] "), std::string::npos) << out;
  EXPECT_EQ(d.string("k"), std::optional<QString>("v"));
}

TEST(DefaultsFile, AnEmptyFileReadsEmptyAndIsSimplyReplaced) {
  TempHome home;
  home.writeFile(".config/Tollamere/defaults.json", "\n");
  Defaults d(tlr::Paths::defaultsFile());
  EXPECT_TRUE(d.snapshot().isEmpty());
  d.set("a", 1);
  ASSERT_TRUE(d.flush());
  EXPECT_TRUE(keptAside().isEmpty());
}

TEST(DefaultsFile, AFifoOrAFolderInItsPlaceNeitherBlocksNorIsLost) {
  TempHome home;
  const QString path = tlr::Paths::defaultsFile();
  QDir().mkpath(QFileInfo(path).path());
  ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  {
    Defaults d(path);  // a blocking open would never return
    EXPECT_TRUE(d.snapshot().isEmpty());
    d.set("a", 1);
    ASSERT_TRUE(d.flush());
  }
  EXPECT_EQ(Defaults(path).integer("a"), std::optional<qint64>(1));
  EXPECT_EQ(keptAside().size(), 1);

  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QDir().mkpath(path + "/inside"));
  Defaults d(path);
  d.set("b", 2);
  ASSERT_TRUE(d.flush());
  EXPECT_EQ(Defaults(path).integer("b"), std::optional<qint64>(2));
  const QStringList folders = QDir(QFileInfo(path).path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  ASSERT_EQ(folders.size(), 1);
  EXPECT_TRUE(QFileInfo::exists(QFileInfo(path).path() + "/" + folders.first() + "/inside"));
}

TEST(DefaultsFile, FileIsPrivateToTheUser) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  d.set("k", "v");
  ASSERT_TRUE(d.flush());
  const auto perms = QFile::permissions(tlr::Paths::defaultsFile());
  EXPECT_FALSE(perms & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
}

TEST(DefaultsFile, SharedFollowsHome) {
  QString first;
  {
    TempHome home;
    Defaults::shared().set("k", "first");
    EXPECT_TRUE(Defaults::shared().flush());
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
  ASSERT_TRUE(d.flush());
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
  ASSERT_TRUE(d.flush());
  const size_t before = heapInUse();
  for (int i = 0; i < 300; ++i) d.set(QStringLiteral("log"), log + QString::number(i));
  ASSERT_TRUE(d.flush());
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

// The language is read for every event with a text, on the window thread,
// while the event log is being written: a write held on its way to the disk
// must hold no reader.
TEST(DefaultsConcurrency, AReadDoesNotWaitForAWriteOnItsWay) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  d.set("TLR.language", "en");
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  d.setWriteHook([&] {
    if (held.exchange(true)) return;
    entered.set_value();
    released.wait();
  });
  std::thread writer([&] { d.set("TLR.events", QString(200000, 'e')); });
  entered.get_future().wait();
  auto read = std::async(std::launch::async, [&] { return d.string("TLR.language"); });
  const bool returned = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  release.set_value();
  writer.join();
  EXPECT_TRUE(returned) << "the read waited for the write";
  EXPECT_EQ(read.get(), std::optional<QString>("en"));
  d.setWriteHook({});
}
