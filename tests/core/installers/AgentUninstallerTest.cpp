#include "core/installers/AgentUninstaller.h"

#include "core/texts/LocTexts.h"
#include "registry/RegistryLoader.h"
#include "support/RecipeTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace std::chrono_literals;
using tlr::AgentUninstaller;
using tlr::test::ExpectedRow;
using tlr::test::expectRows;
using tlr::test::textOf;
using tlr::test::TempHome;

namespace {

bool exists(const QString& path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }

}  // namespace

// A failed command's message used to be its ending alone: it is the first
// line of its error output when it has one. A command whose program is not
// found did not run: that is no success (it was counted one, and the user
// never learnt that npm had not removed the agent).
TEST(UninstallPreCommands, RunSkipOrFailEachWithItsRow) {
  TempHome home;
  tlr::test::FakeBin inheritedOnly;
  inheritedOnly.add("tlr-only-on-path", "exit 0");
  const QString ran = home.path() + "/ran";
  tlr::test::addUserProgram(home, "tlr-pre", "printf '%s|%s' \"$1\" \"$PATH\" > '" + ran + "'\n");
  tlr::test::addUserProgram(home, "tlr-exit3", "echo out; exit 3\n");
  tlr::test::addUserProgram(home, "tlr-stderr", "printf '\\nreal reason\\nmore\\n' >&2; exit 1\n");

  const auto rows = AgentUninstaller().run(
      "Agent",
      {{"tlr-pre", "a b"}, {}, {"tlr-missing-program", "x"}, {"tlr-only-on-path"}, {"tlr-exit3"},
       {"tlr-stderr"}, {"/nonexistent/tlr-prog", "-y"}},
      {}, nullptr);
  expectRows(rows, {{"$ tlr-pre 'a b'", true, std::nullopt},
                    {"$ tlr-missing-program x", false, "（tlr-missing-program 未安装，跳过）"},
                    {"$ tlr-only-on-path", false, "（tlr-only-on-path 未安装，跳过）"},
                    {"$ tlr-exit3", false, "exit 3", "out"},
                    {"$ tlr-stderr", false, "real reason", "real reason\nmore"},
                    {"$ /nonexistent/tlr-prog -y", false, "No such file or directory"}});
  const QString recorded = tlr::test::readFile(ran);
  EXPECT_TRUE(recorded.startsWith("a b|" + home.path() + "/.npm-global/bin:" + home.path() +
                                  "/.local/bin:" + home.path() + "/.cargo/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin:"))
      << recorded.toStdString();
}

// npm of nvm (in ~/.nvm/versions/node/<version>/bin, with its node beside
// it) was taken for no npm at all, and the agent's package stayed.
TEST(UninstallPreCommands, RunWithTheInstallsNpmPrefixAndPipxFolders) {
  for (const QString& npmFolder : {QString(".local/bin"), QString(".nvm/versions/node/v20.11.1/bin")}) {
    SCOPED_TRACE(npmFolder.toStdString());
    TempHome home;
    const QString seen = home.path() + "/seen";
    // An npm that says where it would look for global packages, run by the
    // node beside it as nvm's is.
    const QString node = home.writeFile(npmFolder + "/node", "#!/bin/sh\nexec /bin/sh \"$@\"\n");
    const QString npm = home.writeFile(npmFolder + "/npm",
                                       "#!/usr/bin/env node\nprintf '%s|%s|%s' \"$npm_config_prefix\" \"$PIPX_HOME\" "
                                       "\"$PIPX_BIN_DIR\" > '" + seen.toUtf8() + "'\n");
    for (const QString& program : {node, npm}) QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    const auto rows = AgentUninstaller().run("Agent", {{"npm", "uninstall", "-g", "tlr-agent"}}, {}, nullptr);
    expectRows(rows, {{"$ npm uninstall -g tlr-agent", true, std::nullopt}});
    EXPECT_EQ(tlr::test::readFile(seen),
              home.path() + "/.npm-global|" + home.path() + "/.local/pipx|" + home.path() + "/.local/bin");
  }
}

TEST(UninstallPreCommands, AHungCommandIsStoppedAtItsDeadline) {
  TempHome home;
  const auto rows = AgentUninstaller(1s).run("Agent", {{"sh", "-c", "sleep 30"}}, {}, nullptr);
  ASSERT_EQ(rows.size(), 1);
  EXPECT_FALSE(rows[0].success);
  EXPECT_TRUE(textOf(rows[0].error)->startsWith("命令超过 1 分钟未完成，已中止。\n")) << textOf(rows[0].error)->toStdString();
}

TEST(UninstallPreCommands, ACrashIsReportedWithItsSignal) {
  TempHome home;
  const auto rows = AgentUninstaller().run("Agent", {{"sh", "-c", "kill -SEGV $$"}}, {}, nullptr);
  expectRows(rows, {{"$ sh -c 'kill -SEGV $$'", false, "signal 11 (SIGSEGV)"}});
}

TEST(UninstallRemoval, RemovesRefusesAndSkipsPathsWithTheirRows) {
  TempHome home;
  home.writeFile("agent/bin/tool", "x");
  home.writeFile("agent/.hidden", "x");
  home.writeFile("keep/data", "precious");
  QTemporaryDir outside;
  QFile(outside.path() + "/file").open(QIODevice::WriteOnly);
  QFile::link(home.path() + "/keep", home.path() + "/link-to-keep");
  QFile::link(home.path() + "/keep", home.path() + "/slash-link");
  QFile::link(home.path() + "/gone", home.path() + "/dangling");
  QDir().mkpath(home.path() + "/holder");
  QFile::link(home.path() + "/keep", home.path() + "/holder/inner-link");
  // A link in the home folder to the folder of all homes: a sibling's home
  // lies below it, and so does a link to the sibling's home itself.
  QTemporaryDir homes;
  QDir().mkpath(homes.path() + "/user2/.ssh");
  QFile(homes.path() + "/user2/.ssh/id").open(QIODevice::WriteOnly);
  QFile::link(homes.path(), home.path() + "/link-parent");
  QFile::link(homes.path() + "/user2", home.path() + "/link-user2");

  tlr::test::RowCollector rows;
  AgentUninstaller().execute(nullptr, "Agent", {{"true"}},
                             {"~/agent", "~", "~/missing", "~/link-to-keep", "~/slash-link/", "~/dangling",
                              "~/holder", outside.path() + "/file", "~/x/../keep", " ~/keep", "~/link-parent/user2",
                              "~/link-parent/user2/.ssh/", "~/link-user2/.ssh", "~/link-user2/"},
                             rows.onProgress(), rows.onComplete());
  ASSERT_TRUE(rows.waitForCompletion());
  EXPECT_FALSE(rows.offMainThread);
  const QString notAPath = "路径不安全，拒绝删除：不是完整路径（相对路径、含“..”或 NUL 字符）";
  const QString leavesHome = "路径不安全，拒绝删除：路径上的某个文件夹是指向主目录以外的链接";
  expectRows(*rows.completed, {{"$ true", true, std::nullopt},
                               {"rm -rf ~/agent", true, std::nullopt},
                               {"（跳过）~", false, "路径不安全，拒绝删除：这是主目录、它的上级目录或多个程序共用的文件夹"},
                               {"rm -rf ~/missing", true, "（不存在，跳过）"},
                               {"rm -rf ~/link-to-keep", true, std::nullopt},
                               {"rm -rf ~/slash-link/", true, std::nullopt},
                               {"rm -rf ~/dangling", true, std::nullopt},
                               {"rm -rf ~/holder", true, std::nullopt},
                               {"（跳过）" + outside.path() + "/file", false, "路径不安全，拒绝删除：它不在你的主目录内"},
                               {"（跳过）~/x/../keep", false, notAPath},
                               {"（跳过） ~/keep", false, notAPath},
                               {"（跳过）~/link-parent/user2", false, leavesHome},
                               {"（跳过）~/link-parent/user2/.ssh/", false, leavesHome},
                               {"（跳过）~/link-user2/.ssh", false, leavesHome},
                               {"rm -rf ~/link-user2/", true, std::nullopt}});
  ASSERT_EQ(rows.progress.size(), rows.completed->size());
  for (qsizetype i = 0; i < rows.progress.size(); ++i) EXPECT_EQ(rows.progress[i].id, (*rows.completed)[i].id);
  // A path refused on purpose is never offered for removal by hand.
  for (const tlr::StepResult& row : *rows.completed) EXPECT_EQ(row.removableByHand, std::nullopt);

  for (const char* gone : {"/agent", "/link-to-keep", "/slash-link", "/dangling", "/holder", "/link-user2"})
    EXPECT_FALSE(exists(home.path() + gone)) << gone;
  // Nothing outside the home folder went, though root may remove anything.
  EXPECT_TRUE(exists(outside.path() + "/file"));
  EXPECT_TRUE(exists(homes.path() + "/user2/.ssh/id"));
  // Links went as links: what they pointed at is whole.
  EXPECT_EQ(tlr::test::readFile(home.path() + "/keep/data"), "precious");
  EXPECT_TRUE(QFileInfo(home.path()).isDir());
}

// A system call sees a path cut at its first NUL: "~/" + NUL would be the
// home folder. Such text is refused before it reaches one.
TEST(UninstallRemoval, ANulCharacterIsRefusedBeforeAnySystemCall) {
  TempHome home;
  home.writeFile("precious/data", "the user's own\n");
  home.writeFile(".agent/data", "x");
  const QChar nul(0);
  const QString homeCut = QStringLiteral("~/") + nul;
  const QString agentCut = QStringLiteral("~/.agent") + nul + QStringLiteral("/x");
  EXPECT_FALSE(AgentUninstaller::isSafeToDelete(homeCut));
  EXPECT_FALSE(AgentUninstaller::isSafeToDelete(agentCut));
  EXPECT_FALSE(AgentUninstaller::isSafeToDelete(home.path() + "/" + nul));
  EXPECT_FALSE(AgentUninstaller::sizeOnDisk(homeCut));
  EXPECT_FALSE(AgentUninstaller::sizeOnDisk(agentCut));

  tlr::test::RowCollector rows;
  AgentUninstaller().execute(nullptr, "Agent", {{"true", QStringLiteral("a") + nul}},
                             {homeCut, agentCut}, rows.onProgress(), rows.onComplete());
  ASSERT_TRUE(rows.waitForCompletion());
  ASSERT_EQ(rows.completed->size(), 3);
  const tlr::StepResult& command = (*rows.completed)[0];
  EXPECT_FALSE(command.success) << "the argument would reach the program cut";
  EXPECT_TRUE(textOf(command.error).value_or("").contains("NUL")) << textOf(command.error).value_or("").toStdString();
  for (qsizetype i : {1, 2}) {
    EXPECT_FALSE((*rows.completed)[i].success);
    EXPECT_TRUE(textOf((*rows.completed)[i].error).value_or("").startsWith("路径不安全，拒绝删除：不是完整路径"));
  }
  EXPECT_EQ(tlr::test::readFile(home.path() + "/precious/data"), "the user's own\n");
  EXPECT_TRUE(exists(home.path() + "/.agent/data"));
}

TEST(UninstallRemoval, NothingToDoCompletesWithNoRows) {
  TempHome home;
  tlr::test::RowCollector rows;
  AgentUninstaller().execute(nullptr, "Agent", {}, {}, rows.onProgress(), rows.onComplete());
  ASSERT_TRUE(rows.waitForCompletion());
  EXPECT_TRUE(rows.completed->isEmpty());
  EXPECT_TRUE(rows.progress.isEmpty());
}

TEST(UninstallRemoval, AFailedRemovalDoesNotStopTheRun) {
  TempHome home;
  const QString locked = home.writeFile("locked/inner/file", "x");
  home.writeFile("after/file", "x");
  QList<tlr::StepResult> rows;
  {
    tlr::test::Unremovable guard(locked);
    if (!guard.ok()) GTEST_SKIP() << "this file system cannot make a file unremovable (chattr +i failed)";
    rows = AgentUninstaller().run("Agent", {}, {"~/locked", "~/after"}, nullptr);
  }
  ASSERT_EQ(rows.size(), 2);
  EXPECT_FALSE(rows[0].success);
  ASSERT_TRUE(textOf(rows[0].error).has_value());
  EXPECT_TRUE(textOf(rows[0].error)->contains("Permission denied") || textOf(rows[0].error)->contains("Operation not permitted"))
      << textOf(rows[0].error)->toStdString();
  // The system refused it: the user may remove it by hand, and is told which.
  EXPECT_EQ(rows[0].removableByHand, "~/locked");
  EXPECT_TRUE(rows[1].success);
  EXPECT_EQ(rows[1].removableByHand, std::nullopt);
  EXPECT_FALSE(exists(home.path() + "/after"));
}

// Data bind-mounted (or a disk mounted) inside an agent's folder: the
// uninstall emptied the mounted file system and failed only at the mount
// point, blaming it on the system. Now nothing mounted is entered or
// measured; the folder and those above it stay, and the row says why.
TEST(UninstallRemoval, AMountedFolderIsLeftUntouchedWithItsOwnReason) {
  TempHome home;
  QTemporaryDir elsewhere;
  tlr::test::writeBytes(elsewhere.path() + "/projects/notes", QByteArray(700'000, 'n'));
  home.writeFile(".agent/cache/blob", QByteArray(5'000, 'b'));
  home.writeFile(".agent/config.json", "{}");
  QDir(home.path()).mkpath(".agent/cache/data");
  QDir(home.path()).mkpath(".agent-disk");
  home.writeFile(".agent-plain/x", "x");
  QList<tlr::StepResult> rows;
  {
    tlr::test::PrivateMounts mounts;
    if (!mounts.failure().isEmpty()) GTEST_SKIP() << mounts.failure().toStdString();
    ASSERT_TRUE(mounts.bind(elsewhere.path(), home.path() + "/.agent/cache/data"));
    ASSERT_TRUE(mounts.mountTmpfs(home.path() + "/.agent-disk"));
    tlr::test::writeBytes(home.path() + "/.agent-disk/kept", "on its own file system");
    EXPECT_LT(AgentUninstaller::sizeOnDisk("~/.agent").value_or(0), 100'000u);
    EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/.agent-disk"), 0u) << "the removal leaves it: nothing to gain";
    rows = AgentUninstaller().run("Agent", {}, {"~/.agent", "~/.agent-disk", "~/.agent-plain"}, nullptr);
    EXPECT_EQ(tlr::test::readFile(home.path() + "/.agent-disk/kept"), "on its own file system");
    EXPECT_EQ(QDir(home.path() + "/.agent").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"cache"});
    EXPECT_EQ(QDir(home.path() + "/.agent/cache").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"data"});
  }
  expectRows(rows, {{"rm -rf ~/.agent", false, "已保留：~/.agent/cache/data 处挂载着另一个文件系统，它和包含它的文件夹都没有删除"},
                    {"rm -rf ~/.agent-disk", false, "已保留：~/.agent-disk 处挂载着另一个文件系统，它和包含它的文件夹都没有删除"},
                    {"rm -rf ~/.agent-plain", true, std::nullopt}});
  for (const tlr::StepResult& row : rows) EXPECT_FALSE(row.removableByHand) << "unmount first, not delete by hand";
  EXPECT_EQ(tlr::LocTexts::text(tlr::AppLanguage::en, *rows[0].error),
            "left in place: another file system is mounted at ~/.agent/cache/data, so it and the folders that hold it "
            "were not removed");
  EXPECT_EQ(tlr::test::readBytes(elsewhere.path() + "/projects/notes").size(), 700'000);
  EXPECT_FALSE(exists(home.path() + "/.agent-plain"));
}

// A home folder that is itself a link (/home/u -> /data/u): what lies inside
// it is inside it, written either way; what lies beside the real one is not.
TEST(UninstallSafetyRule, AHomeFolderBehindALinkIsComparedWithItsLinksResolved) {
  QTemporaryDir top;
  const QString real = top.path() + "/real";
  const QString linked = top.path() + "/home";
  ASSERT_TRUE(QDir().mkpath(real));
  ASSERT_TRUE(QFile::link(real, linked));
  const QByteArray savedHome = qgetenv("HOME");
  qputenv("HOME", QFile::encodeName(linked));
  tlr::test::writeBytes(real + "/.agent/bin/tool", "x");
  tlr::test::writeBytes(real + "/.agent-two/x", "x");
  tlr::test::writeBytes(top.path() + "/real-other/.agent/x", "not ours");
  using Refusal = AgentUninstaller::Refusal;
  EXPECT_EQ(AgentUninstaller::refusal("~/.agent"), std::nullopt);
  EXPECT_EQ(AgentUninstaller::refusal(real + "/.agent"), std::nullopt);
  EXPECT_EQ(AgentUninstaller::refusal(linked + "/.agent"), std::nullopt);
  EXPECT_EQ(AgentUninstaller::refusal("~"), Refusal::sharedFolder);
  EXPECT_EQ(AgentUninstaller::refusal(real), Refusal::sharedFolder);
  EXPECT_EQ(AgentUninstaller::refusal(top.path()), Refusal::sharedFolder);
  EXPECT_EQ(AgentUninstaller::refusal(real + "/.config"), Refusal::sharedFolder);
  EXPECT_EQ(AgentUninstaller::refusal(top.path() + "/real-other/.agent"), Refusal::outsideHome);
  EXPECT_TRUE(AgentUninstaller::sizeOnDisk("~/.agent").has_value());
  const auto rows = AgentUninstaller().run("Agent", {}, {"~/.agent", real + "/.agent-two"}, nullptr);
  qputenv("HOME", savedHome);
  expectRows(rows, {{"rm -rf ~/.agent", true, std::nullopt}, {"rm -rf " + real + "/.agent-two", true, std::nullopt}});
  EXPECT_FALSE(exists(real + "/.agent"));
  EXPECT_FALSE(exists(real + "/.agent-two"));
  EXPECT_TRUE(exists(top.path() + "/real-other/.agent/x"));
}

// A refused path is never measured: "/" took the whole disk's walk.
TEST(UninstallSizeOnDisk, ARefusedPathIsNeverMeasured) {
  TempHome home;
  home.writeFile(".agent/x", QByteArray(3'000, 'x'));
  QTemporaryDir outside;
  tlr::test::writeBytes(outside.path() + "/big", QByteArray(4'000, 'b'));
  for (const QString& refused : {QString("/"), QString("~"), QString("/tmp"), outside.path(), QString("~/.local"),
                                 QString("~/x/../.agent")})
    EXPECT_EQ(AgentUninstaller::sizeOnDisk(refused), std::nullopt) << refused.toStdString();
  EXPECT_GE(AgentUninstaller::sizeOnDisk("~/.agent").value_or(0), 3'000u);
}

// A pure check: none of these paths is ever handed to a removal.
TEST(UninstallSafetyRule, RefusesSystemAndHomeFoldersHoweverSpelled) {
  TempHome home;
  QTemporaryDir links;
  QFile::link("/", links.path() + "/root-link");
  QFile::link(home.path(), links.path() + "/home-link");
  const QString h = home.path();
  const QString parent = QFileInfo(h).path();
  for (const QString& path :
       {QString(""), QString(" "), QString("/"), QString(" / "), QString("\t/\t"), QString("."), QString("//"),
        QString("///"), QString("/./"), QString("~"), QString("~/"), QString("~/."), QString("~//"),
        QString(" ~ "), h, h + "/", h + "//", h + "/.", h + "/./", parent, parent + "/", QString("/usr"),
        QString("/usr/"), QString("/./usr"), QString("//usr"), QString("/usr//"), QString("/usr/local"),
        QString("/usr/local/bin/"), QString("/etc"), QString("/var/lib"), QString("/home"), QString("/root"),
        QString("/tmp"), QString("/boot"), QString("/proc"), QString("/lib64"), QString("/Library"),
        QString("/Applications"), QString("/private"), QString("/opt"), QString("relative/folder"),
        QString("./agent"), QString("~user/agent"), QString("~/a/../b"), QString("/usr/../home"),
        QString("/opt/.."), QString("~/.local"), QString("~/.config/"), QString("~/.npm-global/bin"),
        links.path() + "/root-link/usr", links.path() + "/root-link/etc/", links.path() + "/home-link/.",
        links.path() + "/home-link/.local", links.path() + "/home-link",
        // Outside the home folder, however harmless it looks.
        QString("/etc/passwd"), QString("/root/.ssh"), QString("/home/someone"),
        QString("/usr/local/lib/node_modules"), QString("/var/lib/dpkg"), QString("/Library/Agent"),
        QString("/usr/local/lib/node_modules/agent"), QString("/opt/agent"), QString("/tmp/tlr-agent"),
        QString("/usr/local/bin/agent"), links.path() + "/home-link/.agent", h.chopped(1), h.chopped(1) + "/x",
        h + "x", h + "-other/x", QString("/usr/localx"), QString("/optx"), QString("/home2")}) {
    EXPECT_FALSE(AgentUninstaller::isSafeToDelete(path)) << path.toStdString();
  }
  // Every folder above the home folder, written out and from inside it.
  QString above = "~/..";
  for (QString folder = QFileInfo(h).path();; folder = QFileInfo(folder).path(), above += "/..") {
    EXPECT_EQ(AgentUninstaller::refusal(folder), AgentUninstaller::Refusal::sharedFolder) << folder.toStdString();
    EXPECT_EQ(AgentUninstaller::refusal(folder + "/"), AgentUninstaller::Refusal::sharedFolder);
    EXPECT_EQ(AgentUninstaller::refusal(above), AgentUninstaller::Refusal::notAPath) << above.toStdString();
    if (folder == "/") break;
  }
}

// Folders are compared by whole path components: "~/.localx" is no shared
// folder. A link inside the home folder that stays inside it may be on the
// way, and a final link goes as itself wherever it points.
TEST(UninstallSafetyRule, AllowsWhatLiesInsideTheHomeFolder) {
  TempHome home;
  const QString h = home.path();
  QDir().mkpath(h + "/real/inner");
  QFile::link(h + "/real", h + "/inside-link");
  QFile::link("/usr", h + "/usr-link");
  for (const QString& path :
       {QString("~/.agent"), QString("~/.config/agent"), QString("~/.local/share/agent"), h + "/x",
        QString("~/.agent "), h + "/.localx", h + "/.config-agent", QString("~/inside-link/inner"),
        QString("~/inside-link/missing/x"), QString("~/usr-link"), QString("~/usr-link/")}) {
    EXPECT_TRUE(AgentUninstaller::isSafeToDelete(path)) << path.toStdString();
  }
  EXPECT_EQ(AgentUninstaller::refusal("~/usr-link/bin"), AgentUninstaller::Refusal::leavesHome);
  // Judged as the removal reaches it: a blank before "~" leaves a path
  // relative to the working folder, which the preview once measured trimmed.
  EXPECT_EQ(AgentUninstaller::refusal(" ~/.agent"), AgentUninstaller::Refusal::notAPath);
}

// An empty folder measured as absent (0) and could not be removed; a file
// with two names was counted twice.
TEST(UninstallSizeOnDisk, FilesFoldersMissingPathsAndLinks) {
  TempHome home;
  EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/missing"), std::nullopt);
  home.writeFile("file", QByteArray(1234, 'x'));
  EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/file"), 1234u);
  home.writeFile("empty-file", {});
  QDir(home.path()).mkpath("empty-folder");
  EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/empty-file"), 0u);
  EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/empty-folder"), 0u);

  // A sparse file: its own size is logical, a folder counts what is allocated.
  home.writeFile("folder/sub/data", QByteArray(5000, 'y'));
  {
    QFile sparse(home.path() + "/folder/sparse");
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    ASSERT_TRUE(sparse.resize(10 * 1024 * 1024));
  }
  EXPECT_EQ(AgentUninstaller::sizeOnDisk(home.path() + "/folder/sparse"), 10u * 1024 * 1024);
  const quint64 folder = AgentUninstaller::sizeOnDisk("~/folder").value_or(0);
  EXPECT_GE(folder, 5000u);
  EXPECT_LT(folder, 1024u * 1024);
  EXPECT_EQ(folder % 512, 0u);
  // A second name of a file takes no storage of its own.
  ASSERT_EQ(::link(QFile::encodeName(home.path() + "/folder/sub/data").constData(),
                   QFile::encodeName(home.path() + "/folder/data-again").constData()),
            0);
  EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/folder"), folder);
  QFile::remove(home.path() + "/folder/data-again");

  // A link counts as itself, never as what it points at.
  const QString target = home.path() + "/folder";
  QFile::link(target, home.path() + "/link");
  EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/link"), static_cast<quint64>(target.toUtf8().size()));
  QFile::link(home.path() + "/folder", home.path() + "/folder/sub/loop");
  EXPECT_EQ(AgentUninstaller::sizeOnDisk("~/folder"), folder);
}

TEST(UninstallSafetyRule, EveryShippedRecipePathIsRemovable) {
  TempHome home;
  const auto loaded = tlr::RegistryLoader::loadFile(TLR_SOURCE_RESOURCES "/registry.json");
  ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const tlr::AgentRegistry>>(loaded));
  int checked = 0;
  for (const tlr::AgentEntry& entry : std::get<0>(loaded)->file().agents) {
    if (!entry.uninstall) continue;
    for (const auto& list : {entry.uninstall->paths, entry.uninstall->userDataPaths}) {
      for (const QString& path : list.value_or(QStringList())) {
        EXPECT_TRUE(AgentUninstaller::isSafeToDelete(path)) << entry.id.toStdString() << " " << path.toStdString();
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 0);
}
