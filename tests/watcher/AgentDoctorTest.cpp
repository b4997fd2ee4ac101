#include "watcher/AgentDoctor.h"

#include "platform/ChildReaper.h"
#include "platform/Defaults.h"
#include "platform/OwnCommands.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

using tlr::AgentDoctor;
using tlr::AgentEntry;
using tlr::LocKey;
using KnownIssue = AgentEntry::DoctorSpec::KnownIssue;

namespace {

KnownIssue issue(const QString& id, const QString& match) {
  KnownIssue i;
  i.id = id;
  i.match = match;
  i.title = id;
  return i;
}

KnownIssue shellFix(const QStringList& command, std::optional<QStringList> reload = {}) {
  KnownIssue i = issue("fix", "x");
  i.fix.kind = "shell";
  i.fix.command = command;
  i.fix.reload = std::move(reload);
  return i;
}

KnownIssue patchFix(const QString& file, const QMap<QString, QString>& set) {
  KnownIssue i = issue("patch", "x");
  i.fix.kind = "patch-json";
  i.fix.file = file;
  i.fix.set = set;
  return i;
}

AgentEntry doctorEntry(const QStringList& command, const QList<KnownIssue>& issues) {
  AgentEntry entry;
  entry.id = "agent";
  entry.displayName = "Agent";
  AgentEntry::DoctorSpec spec;
  spec.command = command;
  spec.knownIssues = issues;
  entry.doctor = spec;
  return entry;
}

QStringList ids(const AgentDoctor::Result& r) {
  QStringList out;
  for (const auto& d : r.detectedIssues) out << d.issue.id;
  return out;
}

class AgentDoctorTest : public ::testing::Test {
 protected:
  AgentDoctorTest() { speak("en"); }
  // The interface language the messages are made in from now on.
  static void speak(const char* language) { tlr::Defaults::shared().set("TLR.language", language); }
  tlr::test::TempHome home;
  AgentDoctor doctor;
};

}  // namespace

TEST_F(AgentDoctorTest, NoDoctorSpecificationMeansNoResultAndNoCommand) {
  int runs = 0;
  AgentDoctor counting([&](const QStringList&, std::chrono::milliseconds, bool) {
    ++runs;
    return tlr::CommandRunner::Result{};
  });
  AgentEntry entry;
  EXPECT_FALSE(counting.run(entry));
  EXPECT_EQ(runs, 0);
}

TEST_F(AgentDoctorTest, ADoctorThatNeedsATerminalGetsOneAndOnlyFixesTheProgramKnowsAreOffered) {
  tlr::test::FakeBin bin;
  // Says nothing and waits without a terminal; with one, it reports in
  // colour and answers nothing more. Its help lists its sub-commands as
  // Claude Code 2.1's does (no "migrate-installer" any more), and each
  // sub-command's help its options (no "--fix" for its doctor).
  bin.add("agentx", "case \"$1 $2\" in\n"
                    "'--help ') printf 'Usage: agentx [options] [command] [prompt]\\n\\nCommands:\\n"
                    "  doctor              Check the health of your installation\\n"
                    "  update|upgrade      Check for updates and install if available\\n';;\n"
                    "'doctor --help') echo 'Usage: agentx doctor [options]'; echo '  -v, --verbose';;\n"
                    "'update --help') echo '  --force   reinstall even when current';;\n"
                    "'doctor ') [ -t 0 ] && [ -t 1 ] || exec sleep 30\n"
                    "  printf '\\033[1mDiagnostics\\033[0m\\r\\nWarning: multiple installations found\\n'\n"
                    "  echo 'errors stay apart' >&2;;\n"
                    "esac\n");
  auto withFix = [](KnownIssue i, const QStringList& command) {
    i.fix.kind = "shell";
    i.fix.command = command;
    return i;
  };
  AgentEntry entry = doctorEntry({"agentx", "doctor"},
                                 {withFix(issue("multi", "multiple installations"), {"agentx", "doctor", "--fix"}),
                                  withFix(issue("verbose", "diagnostics"), {"agentx", "doctor", "--verbose=1"}),
                                  withFix(issue("update", "warning"), {"agentx", "update", "--force"}),
                                  withFix(issue("migrate", "found"), {"agentx", "migrate-installer"})});
  entry.doctor->needsTerminal = true;
  const AgentDoctor limited(AgentDoctor::defaultRunner(), {std::chrono::seconds(10), std::chrono::seconds(10)});
  const auto result = limited.run(entry);
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->timedOut);
  EXPECT_EQ(result->exitCode, 0);
  EXPECT_EQ(result->stdOut, "Diagnostics\nWarning: multiple installations found\n");
  EXPECT_EQ(result->stdErr, "errors stay apart\n");
  ASSERT_EQ(ids(*result), (QStringList{"multi", "verbose", "update", "migrate"}));
  // "--fix" is no option of this version's doctor, "migrate-installer" no
  // sub-command of it: those fixes are not offered, and each says why.
  QList<std::optional<tlr::LocKey>> why;
  for (const auto& d : result->detectedIssues) why << d.fixNotOffered;
  EXPECT_EQ(why, (QList<std::optional<tlr::LocKey>>{tlr::LocKey::doctorFixNoOption("agentx doctor", "--fix"),
                                                    std::nullopt, std::nullopt,
                                                    tlr::LocKey::doctorFixNoCommand("agentx", "migrate-installer")}));
  EXPECT_FALSE(result->detectedIssues[0].fixOffered());
  EXPECT_TRUE(result->detectedIssues[1].fixOffered());
  EXPECT_FALSE(result->helpListsFix) << "running the doctor with --fix is not suggested";

  // A doctor whose help lists "--fix"; a program whose help says nothing.
  bin.add("agenty", "case \"$1 $2\" in\n"
                    "'--help ') echo 'Commands:'; echo '  doctor   Check';;\n"
                    "'doctor --help') echo 'Options:'; echo '  --fix    Repair what it finds';;\n"
                    "*) echo 'found a problem';;\n"
                    "esac\n");
  AgentEntry fixing = doctorEntry({"agenty", "doctor"}, {withFix(issue("p", "problem"), {"mute", "repair"})});
  const auto withFixOption = limited.run(fixing);
  ASSERT_TRUE(withFixOption);
  EXPECT_TRUE(withFixOption->helpListsFix);
  ASSERT_EQ(ids(*withFixOption), QStringList{"p"});
  EXPECT_EQ(withFixOption->detectedIssues[0].fixNotOffered, tlr::LocKey::doctorFixNoHelp("mute"));
}

TEST_F(AgentDoctorTest, KnownIssuesAreFoundInRealOutput) {
  const auto result = doctor.run(doctorEntry(
      {"sh", "-c", "echo 'all good  '; echo '  Error: TOKEN expired at 10:00' >&2; exit 2"},
      {issue("token", "token expired"), issue("never", "nothing like this"), issue("broken", "(unclosed"),
       issue("twice", "good|expired"), issue("anchored", "^Error"), issue("across", "all.*expired")}));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->entryDisplayName, "Agent");
  EXPECT_EQ(result->exitCode, 2);
  EXPECT_EQ(result->stdOut, "all good  \n");
  EXPECT_EQ(result->stdErr, "  Error: TOKEN expired at 10:00\n");
  EXPECT_EQ(ids(*result), (QStringList{"token", "twice", "across"}));
  EXPECT_EQ(result->detectedIssues[0].matchedSnippet, "Error: TOKEN expired at 10:00");
  EXPECT_EQ(result->detectedIssues[1].matchedSnippet, "all good");
  EXPECT_EQ(result->detectedIssues[2].matchedSnippet, "all good  \n\n  Error: TOKEN expired at 10:00");
  ASSERT_EQ(result->patternErrors.size(), 1);
  EXPECT_EQ(result->patternErrors[0].issueId, "broken");
  EXPECT_FALSE(result->patternErrors[0].message.isEmpty());
  EXPECT_GT(result->elapsedSeconds, 0.0);
}

TEST_F(AgentDoctorTest, WordClassesCoverEveryScript) {
  const auto result = doctor.run(doctorEntry({"sh", "-c", "echo '状态: 配置错误'"}, {issue("cjk", "\\b\\w+错误")}));
  ASSERT_TRUE(result);
  ASSERT_EQ(ids(*result), QStringList{"cjk"});
  EXPECT_EQ(result->detectedIssues[0].matchedSnippet, "状态: 配置错误");
}

TEST_F(AgentDoctorTest, SnippetsAreCutAtTwoHundredCharacters) {
  const auto result = doctor.run(doctorEntry(
      {"sh", "-c", "printf 'A%0199d\\nB%0200d\\nC\\r\\nwarn here\\r\\nD\\r\\n' 0 0"},
      {issue("200", "^A"), issue("201", "B0"), issue("crlf", "warn")}));
  ASSERT_TRUE(result);
  ASSERT_EQ(result->detectedIssues.size(), 3);
  EXPECT_EQ(result->detectedIssues[0].matchedSnippet, "A" + QString(199, '0'));
  EXPECT_EQ(result->detectedIssues[1].matchedSnippet, "B" + QString(199, '0') + QChar(0x2026));
  EXPECT_EQ(result->detectedIssues[2].matchedSnippet, "warn here");
}

TEST_F(AgentDoctorTest, AnyOutputIsSearchedWithoutFailing) {
  const auto result = doctor.run(doctorEntry(
      {"sh", "-c", "head -c 3000000 /dev/urandom; printf '\\377\\000 disk full \\n'"},
      {issue("disk", "disk full"), issue("catastrophic", "(a+)+$")}));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->exitCode, 0);
  ASSERT_FALSE(result->detectedIssues.isEmpty());
  EXPECT_EQ(result->detectedIssues[0].issue.id, "disk");
}

TEST_F(AgentDoctorTest, AnEmptyCommandGivesTheRunnersReason) {
  const auto result = doctor.run(doctorEntry({}, {issue("argv", "argv empty")}));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->exitCode, -1);
  EXPECT_EQ(result->stdErr, "argv empty");
  EXPECT_EQ(ids(*result), QStringList{"argv"});
}

TEST_F(AgentDoctorTest, TheTranscriptInBothLanguages) {
  AgentDoctor::Result r;
  r.command = {"agent", "doctor"};
  r.exitCode = 0;
  r.elapsedSeconds = 1.26;
  EXPECT_EQ(r.combinedOutput(tlr::AppLanguage::en), "$ agent doctor\n\n\n─────────\nExit code: 0  /  Elapsed: 1.3s");
  r.stdOut = "\n  ok \n";
  r.stdErr = " warn\n";
  r.exitCode = 4;
  EXPECT_EQ(r.combinedOutput(tlr::AppLanguage::zh),
            "$ agent doctor\n\nok\n\n[stderr]\nwarn\n\n─────────\n退出码：4  /  耗时：1.3s");
}

// A fix's message is a key, said in the window's language whenever it is
// drawn; the event and the log line say it in the interface language of the
// moment the fix ended.
TEST_F(AgentDoctorTest, AFixSaysWhatHappenedByKeyAndItsEventInTheLanguageOfTheMoment) {
  const AgentDoctor plain;
  KnownIssue unknown = shellFix({"true"});
  unknown.fix.kind = "other";
  speak("zh");
  const AgentDoctor::FixResult fix = plain.applyFix(unknown);
  EXPECT_EQ(fix.message, LocKey::doctorErrUnknownFixKind("other"));
  EXPECT_EQ(AgentDoctor::fixEventText(issue("tok", "x"), fix), "修复失败 [tok] 未知的 fix kind：other");
  speak("en");
  EXPECT_EQ(plain.applyFix(unknown), fix) << "the same whatever the language";
  EXPECT_EQ(AgentDoctor::fixEventText(issue("tok", "x"), fix), "修复失败 [tok] Unknown fix kind: other");
  tlr::Defaults::shared().set("TLR.language", "fr");
  EXPECT_EQ(AgentDoctor::fixEventText(issue("tok", "x"), fix), "修复失败 [tok] 未知的 fix kind：other");
}

TEST_F(AgentDoctorTest, EventTextsAreChinese) {
  AgentDoctor::Result r;
  r.exitCode = 0;
  EXPECT_EQ(AgentDoctor::summaryEventText(r), "诊断完成 exit=0 · 无已知问题");
  r.exitCode = 1;
  r.detectedIssues = {{issue("a", "a"), ""}, {issue("b", "b"), ""}};
  EXPECT_EQ(AgentDoctor::summaryEventText(r), "诊断完成 exit=1 · 识别 2 个问题");
  r.detectedIssues.clear();
  r.exitCode = 143;
  r.timedOut = true;
  r.timeLimitSeconds = 120;
  EXPECT_EQ(AgentDoctor::summaryEventText(r), "诊断未完成 · 120 秒内未结束");
  EXPECT_EQ(AgentDoctor::fixEventText(issue("tok", "x"), AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded())),
            "修复成功 [tok] Command succeeded");
}

// A doctor that started a process of its own session and then killed the
// process that ran it was stored as "诊断完成 exit=137", and that process ran
// on under init, past quit. Its check failed; what it left is ended.
TEST_F(AgentDoctorTest, ADoctorThatKillsItsKeeperIsAFailedCheckAndLeavesNothingRunning) {
  ASSERT_TRUE(tlr::ChildReaper::adoptOrphans());  // as the application is
  const tlr::OwnCommands::Scope checking("agent", tlr::OwnCommands::Purpose::check);
  const QString file = home.path() + "/left";
  const auto result = doctor.run(doctorEntry(
      {"sh", "-c", "echo checking; setsid sleep 300 >/dev/null 2>&1 & echo $! > '" + file + "'; kill -9 $PPID; sleep 300"},
      {issue("seen", "checking")}));
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->keeperLost);
  EXPECT_EQ(result->exitCode, -1);
  EXPECT_EQ(result->verdict(), AgentDoctor::Result::Verdict::issuesFound) << "what it printed is still searched";
  EXPECT_EQ(AgentDoctor::summaryEventText(*result), "诊断未完成 · 它结束了运行它的进程");
  EXPECT_TRUE(result->combinedOutput(tlr::AppLanguage::en)
                  .endsWith("The check ended the process that ran it: its outcome is unknown, and what it left running "
                            "was stopped"));
  const pid_t left = tlr::test::readFile(file).trimmed().toInt();
  ASSERT_GT(left, 0);
  // Gone, not even a zombie left.
  const bool ended = tlr::test::waitUntil([&] { return ::kill(left, 0) != 0; });
  EXPECT_TRUE(ended) << "what the doctor left outlived it";
  if (!ended) ::kill(left, SIGKILL);
  tlr::AgentDoctor::Result silent = *result;
  silent.detectedIssues.clear();
  EXPECT_EQ(silent.verdict(), AgentDoctor::Result::Verdict::checkFailed);
}

TEST_F(AgentDoctorTest, ShellFixes) {
  const QString reloaded = home.path() + "/reloaded";
  const auto ok = doctor.applyFix(shellFix({"true"}, QStringList{"touch", reloaded}));
  EXPECT_TRUE(ok.succeeded());
  EXPECT_EQ(ok.message, LocKey::doctorOkCmdSucceeded());
  EXPECT_TRUE(QFile::exists(reloaded));
  QFile::remove(reloaded);

  const auto silent = doctor.applyFix(shellFix({"sh", "-c", "exit 1"}, QStringList{"touch", reloaded}));
  EXPECT_FALSE(silent.succeeded());
  EXPECT_EQ(silent.message, LocKey::doctorErrCmdExitSilent(1));
  EXPECT_FALSE(QFile::exists(reloaded));

  const auto loud = doctor.applyFix(shellFix({"sh", "-c", "printf 'o%0399d' 0; printf E >&2; exit 7"}));
  EXPECT_EQ(loud.message, LocKey::doctorErrCmdExit(7, "E" + QString("o") + QString(298, '0')));

  EXPECT_EQ(doctor.applyFix(shellFix({})).message, LocKey::doctorErrShellMissingCmd());
  KnownIssue wrongKind = shellFix({"true"});
  wrongKind.fix.kind = "Shell";
  EXPECT_EQ(doctor.applyFix(wrongKind).message, LocKey::doctorErrUnknownFixKind("Shell"));
}

TEST_F(AgentDoctorTest, ChecksAndChangesStopAtTheirOwnLimitsAndNeverPass) {
  using std::chrono::milliseconds;
  QList<milliseconds> limits;
  const auto recording = [&](bool run) {
    return [&limits, run](const QStringList& argv, milliseconds limit, bool) {
      limits << limit;
      return run ? tlr::CommandRunner::run(argv, limit) : tlr::CommandRunner::Result{};
    };
  };
  // A doctor that waits for a terminal never ends without one.
  const AgentDoctor timed(recording(true), {milliseconds(300), milliseconds(700)});
  const auto waiting = timed.run(doctorEntry({"sh", "-c", "echo waiting for a terminal; exec sleep 30"}, {}));
  ASSERT_TRUE(waiting);
  EXPECT_TRUE(waiting->timedOut);
  EXPECT_EQ(waiting->timeLimitSeconds, 1);
  EXPECT_EQ(waiting->stdOut, "waiting for a terminal\n");
  EXPECT_EQ(timed.applyFix(shellFix({"sh", "-c", "exec sleep 30"})).message, LocKey::doctorErrCmdTimedOut(1));
  const auto reload = timed.applyFix(shellFix({"true"}, QStringList{"sleep", "30"}));
  EXPECT_FALSE(reload.succeeded());
  EXPECT_EQ(reload.message, LocKey::doctorErrReloadTimedOut(1));
  // Stopped, it tells nothing of its program: no help is asked.
  EXPECT_FALSE(waiting->helpListsFix);
  EXPECT_EQ(limits, (QList<milliseconds>{milliseconds(300), milliseconds(700), milliseconds(700), milliseconds(700)}));

  // A diagnosis reads, a fix may reinstall a package over a slow network;
  // the help that tells whether the doctor has a "--fix" is asked under a
  // limit of its own, once the check has ended by itself, and neither when
  // it never ran nor when it was killed (an uninstall ends it with SIGTERM).
  const auto ending = [&limits](qint32 exitCode) {
    return [&limits, exitCode](const QStringList&, milliseconds limit, bool) {
      limits << limit;
      tlr::CommandRunner::Result r;
      r.exitCode = exitCode;
      return r;
    };
  };
  for (const qint32 exitCode : {1, -1, 128 + SIGTERM}) {
    limits.clear();
    const AgentDoctor defaults(ending(exitCode));
    static_cast<void>(defaults.run(doctorEntry({"agent", "doctor"}, {})));
    // Only the limit each ran under matters here.
    static_cast<void>(defaults.applyFix(shellFix({"npm", "install", "-g", "agent"})));
    const QList<milliseconds> asked = exitCode == 1
                                          ? QList<milliseconds>{std::chrono::seconds(120), std::chrono::seconds(15),
                                                                std::chrono::seconds(600)}
                                          : QList<milliseconds>{std::chrono::seconds(120), std::chrono::seconds(600)};
    EXPECT_EQ(limits, asked) << exitCode;
  }
}

TEST_F(AgentDoctorTest, JsonPatchFixes) {
  const QString path = home.writeFile("cfg.json", R"({"a": 5, "id": 9007199254740993})");
  KnownIssue fix = patchFix("~/cfg.json", {{"a.b.c", "x"}, {"...", "ignored"}});
  fix.fix.reload = QStringList{"touch", home.path() + "/reloaded"};
  const auto result = doctor.applyFix(fix);
  ASSERT_TRUE(result.succeeded()) << ::testing::PrintToString(result.message);
  EXPECT_EQ(result.message, LocKey::doctorOkUpdated("~/cfg.json", "... = \"ignored\"、a.b.c = \"x\""));
  EXPECT_EQ(tlr::test::readFile(path), R"({"a": {"b": {"c": "x"}}, "id": 9007199254740993})");
  EXPECT_EQ(tlr::test::readFile(path + ".tlrbak"), R"({"a": 5, "id": 9007199254740993})");
  EXPECT_TRUE(QFile::exists(home.path() + "/reloaded"));
}

TEST_F(AgentDoctorTest, JsonPatchFailures) {
  home.writeFile("list.json", "[1]");
  home.writeFile("broken.json", "{");
  EXPECT_EQ(doctor.applyFix(patchFix("~/list.json", {{"a", "b"}})).message, LocKey::doctorErrJSONNotObject());
  const LocKey unparsed = doctor.applyFix(patchFix("~/broken.json", {{"a", "b"}})).message;
  EXPECT_EQ(unparsed.id(), LocKey::Id::doctorErrJSONParse);
  EXPECT_FALSE(unparsed.text(0).isEmpty()) << "the parser's reason";
  EXPECT_EQ(doctor.applyFix(patchFix("~/missing.json", {{"a", "b"}})).message,
            LocKey::doctorErrFileNotFound(home.path() + "/missing.json"));
  EXPECT_EQ(doctor.applyFix(patchFix("~/list.json", {})).message, LocKey::doctorErrPatchMissingFields());
  EXPECT_EQ(tlr::test::readFile(home.path() + "/list.json"), "[1]");
}
