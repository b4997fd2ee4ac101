#include "platform/ChildReaper.h"
#include "platform/Defaults.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>
#include <sys/stat.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using tlr::Defaults;
using tlr::test::TempHome;

namespace {

// The tool's exit code and output; a run that did not exit by itself fails
// the test.
tlr::test::ProgramRun runTool(const QStringList& args) {
  tlr::test::ProgramRun run = tlr::test::runProgram(tlr::test::toolPath("tlr_defaults_tool"), args);
  EXPECT_TRUE(run.failure.isEmpty()) << run.failure.toStdString() << " (" << args.join(' ').toStdString() << ")";
  return run;
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
      ok_ = tlr::test::setImmutable(folder_, true);
  }
  ~FrozenFolder() {
    if (::geteuid() != 0)
      QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    else if (ok_)
      tlr::test::setImmutable(folder_, false);
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
  // This process reaps its orphans as the application does: the tools'
  // statuses still reach the test.
  ASSERT_TRUE(tlr::ChildReaper::adoptOrphans());
  TempHome home;
  ASSERT_EQ(runTool({"set", "TLR.lockOnline.enabled", R"(["claude-code-cli"])"}).exitCode, 0);
  ASSERT_EQ(runTool({"set", "TLR.showInDock", "false"}).exitCode, 0);

  const tlr::test::ProgramRun list = runTool({"get", "TLR.lockOnline.enabled"});
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
  // The hook runs on the defaults' own writing thread, which may still be
  // waking from its wait when the test's locals go: it holds what it uses.
  const auto entered = std::make_shared<std::promise<void>>();
  std::future<void> hasEntered = entered->get_future();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  const auto held = std::make_shared<std::atomic<bool>>(false);
  d.setWriteHook([entered, held, released] {
    if (held->exchange(true)) return;
    entered->set_value();
    released.wait();
  });
  std::thread writer([&] { d.set("TLR.events", QString(200000, 'e')); });
  hasEntered.wait();
  auto read = std::async(std::launch::async, [&] { return d.string("TLR.language"); });
  const bool returned = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  release.set_value();
  writer.join();
  EXPECT_TRUE(returned) << "the read waited for the write";
  EXPECT_EQ(read.get(), std::optional<QString>("en"));
  d.setWriteHook({});
}

namespace {

// The device and inode of the file at `path`: whether it was written anew.
std::pair<dev_t, ino_t> identityOf(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {0, 0};
  return {st.st_dev, st.st_ino};
}

QList<QByteArray> elementsNamed(const QString& prefix, int count) {
  QList<QByteArray> elements;
  for (int i = 0; i < count; ++i)
    elements << QStringLiteral(R"({"id":"%1-%2","text":"a, \"quoted\" ] text"})").arg(prefix).arg(i).toUtf8();
  return elements;
}

QByteArray arrayText(const QList<QByteArray>& elements) { return "[" + elements.join(',') + "]"; }

}  // namespace

// Each exit rewrote a settings file holding the whole event log: a large
// file now takes each change in its journal, and is written whole only
// when the journal has grown to half its size.
TEST(DefaultsJournal, ALargeFileTakesEachChangeInItsJournalUntilTheJournalIsHalfItsSize) {
  TempHome home;
  const QString path = tlr::Paths::defaultsFile();
  Defaults d(path, Defaults::Options{4 * 1024});
  QList<QByteArray> elements = elementsNamed("old", 200);  // about 10 KB
  // The small value first: the writer may take each change on its own, and
  // the file is large only once the elements are in.
  d.set("TLR.language", "en");
  d.setElements("log", elements);
  ASSERT_TRUE(d.flush());
  EXPECT_FALSE(QFileInfo::exists(d.journalPath())) << "written whole: no journal yet";
  const auto written = identityOf(path);
  const QByteArray fileBefore = tlr::test::readFile(path).toUtf8();

  // One element in, one out, a plain value: three lines of the journal;
  // the file stays as it was.
  const QByteArray added = R"({"id":"new-0","text":"\u00e9 \n"})";
  d.insertElement("log", 0, added);
  d.removeElement("log", 200);
  d.set("TLR.language", "zh");
  ASSERT_TRUE(d.flush());
  elements.prepend(added);
  elements.removeLast();
  EXPECT_EQ(identityOf(path), written);
  EXPECT_EQ(tlr::test::readFile(path).toUtf8(), fileBefore);
  EXPECT_EQ(tlr::test::readFile(d.journalPath()).count('\n'), 4) << "its first line and one a change";
  {
    Defaults reader(path);
    EXPECT_EQ(reader.string("log"), QString::fromUtf8(arrayText(elements)));
    EXPECT_EQ(reader.string("TLR.language"), "zh");
    EXPECT_EQ(reader.elementsOf("log"), elements);
  }
  EXPECT_EQ(d.string("log"), QString::fromUtf8(arrayText(elements)));

  // Once the journal holds half as much as the file, the file is written
  // whole again and the journal goes.
  for (int i = 1; i < 1000 && QFileInfo::exists(d.journalPath()); ++i) {
    const QByteArray e = QStringLiteral(R"({"id":"new-%1"})").arg(i).toUtf8();
    d.insertElement("log", 0, e);
    elements.prepend(e);
    ASSERT_TRUE(d.flush());
  }
  EXPECT_FALSE(QFileInfo::exists(d.journalPath()));
  EXPECT_NE(identityOf(path), written);
  EXPECT_EQ(Defaults(path).string("log"), QString::fromUtf8(arrayText(elements)));
  // The file itself holds the array's text as a string.
  const QJsonObject onDisk = QJsonDocument::fromJson(tlr::test::readFile(path).toUtf8()).object();
  EXPECT_EQ(onDisk.value("log").toString(), QString::fromUtf8(arrayText(elements)));
}

TEST(DefaultsJournal, AJournalCutShortIsReadToItsLastWholeLineAndOneOfAnotherFileNotAtAll) {
  TempHome home;
  const QString path = tlr::Paths::defaultsFile();
  const QList<QByteArray> elements = elementsNamed("e", 200);
  {
    Defaults d(path, Defaults::Options{4 * 1024});
    d.setElements("log", elements);
    ASSERT_TRUE(d.flush());
    d.insertElement("log", 0, "1");
    d.insertElement("log", 0, "2");
    ASSERT_TRUE(d.flush());
  }
  // A crash in the middle of the next line.
  QFile journal(path + ".journal");
  ASSERT_TRUE(journal.open(QIODevice::Append));
  journal.write(R"({"elements":"log","insert":0,"elem)");
  journal.close();
  {
    testing::internal::CaptureStdout();
    Defaults d(path, Defaults::Options{4 * 1024});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(d.elementsOf("log"), (QList<QByteArray>{"2", "1"} + elements));
    // The cut journal is not written on: the next change writes the file whole.
    d.insertElement("log", 0, "3");
    ASSERT_TRUE(d.flush());
    EXPECT_FALSE(QFileInfo::exists(d.journalPath()));
  }
  EXPECT_EQ(Defaults(path).elementsOf("log"), (QList<QByteArray>{"3", "2", "1"} + elements));

  // A journal left beside a file written since (by another program, or a
  // crash between the two) belongs to the file before it: not read.
  {
    Defaults d(path, Defaults::Options{4 * 1024});
    d.insertElement("log", 0, "4");
    ASSERT_TRUE(d.flush());
    ASSERT_TRUE(QFileInfo::exists(d.journalPath()));
  }
  const QByteArray stale = tlr::test::readFile(path + ".journal").toUtf8();
  ASSERT_TRUE(tlr::FileOps::writeOwnFile(path, R"({"log": "[5]"})"));
  EXPECT_EQ(tlr::test::readFile(path + ".journal").toUtf8(), stale);
  EXPECT_EQ(Defaults(path).string("log"), "[5]");
}

TEST(DefaultsJournal, AnArrayTextIsHeldElementByElementWithoutChangingIt) {
  TempHome home;
  Defaults d(tlr::Paths::defaultsFile());
  const std::vector<std::pair<QString, std::optional<QList<QByteArray>>>> cases{
      {"[]", QList<QByteArray>{}},
      {R"( [ {"a":"x,]}\"[{"} , 2,[3,[4]] ,"s" ] )", QList<QByteArray>{R"({"a":"x,]}\"[{"})", "2", "[3,[4]]", R"("s")"}},
      {"[1,,2]", std::nullopt},
      {"[1,2", std::nullopt},
      {R"(["open])", std::nullopt},
      {"[1]x", std::nullopt},
      {"{}", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text.toStdString());
    d.set("k", text);
    EXPECT_EQ(d.elementsOf("k"), expected);
    EXPECT_EQ(d.string("k"), text) << "the value reads as it was";
  }
  d.set("n", 5);
  EXPECT_FALSE(d.elementsOf("n"));
  EXPECT_FALSE(d.elementsOf("absent"));
  d.set("k", "[1,2]");
  ASSERT_TRUE(d.elementsOf("k"));
  d.insertElement("k", 2, "3");
  d.removeElement("k", 0);
  d.insertElement("k", 9, "x");  // beyond the end: nothing
  d.removeElement("k", 5);
  EXPECT_EQ(d.string("k"), "[2,3]");
  EXPECT_EQ(d.snapshot().value("k"), "[2,3]");
  d.set("k", true);  // a plain value again
  EXPECT_EQ(d.boolean("k"), std::optional<bool>(true));
  ASSERT_TRUE(d.flush());
  EXPECT_EQ(Defaults(tlr::Paths::defaultsFile()).boolean("k"), std::optional<bool>(true));
}
