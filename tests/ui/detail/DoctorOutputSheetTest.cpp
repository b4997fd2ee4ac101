#include "DetailSheetTestSupport.h"

#include "ui/detail/DoctorOutputSheet.h"
#include "ui/detail/DoctorTranscriptView.h"
#include "ui/kit/Controls.h"
#include "support/gui/InView.h"

#include <QCoreApplication>
#include <QScrollArea>

using namespace tlr;
using namespace tlr::test;

namespace {

AgentDoctor::KnownIssue knownIssue(const QString& id, const QString& title, const QString& fixTitle) {
  AgentDoctor::KnownIssue issue;
  issue.id = id;
  issue.title = title;
  issue.fix.title = fixTitle;
  return issue;
}

AgentDoctor::Result run(double elapsed, QList<AgentDoctor::DetectedIssue> issues, QStringList command = {"oc", "doctor"},
                        qint32 exitCode = 0) {
  AgentDoctor::Result result;
  result.entryDisplayName = "OpenClaw";
  result.command = std::move(command);
  result.exitCode = exitCode;
  result.elapsedSeconds = elapsed;
  result.stdOut = "<b>not bold</b> <img src=x> & more";
  result.detectedIssues = std::move(issues);
  result.helpListsFix = true;
  return result;
}

class DoctorOutputSheetTest : public DetailSheetFixture {
 protected:
  QList<DoctorOutputModel::FixCompletion> fixes;
  QList<DoctorOutputModel::RerunCompletion> reruns;
  int closes = 0;

  std::unique_ptr<DoctorOutputSheet> make(std::optional<AgentDoctor::Result> result, bool withFix = true,
                                          bool withRerun = true) {
    DoctorOutputModel::ApplyFix applyFix;
    if (withFix)
      applyFix = [this](const AgentDoctor::KnownIssue&, DoctorOutputModel::FixCompletion done) {
        fixes << std::move(done);
      };
    DoctorOutputModel::Rerun rerun;
    if (withRerun) rerun = [this](DoctorOutputModel::RerunCompletion done) { reruns << std::move(done); };
    auto sheet = std::make_unique<DoctorOutputSheet>(std::move(result), [this] { ++closes; }, std::move(applyFix),
                                                     std::move(rerun), settings);
    sheet->setDeleteOnDismiss(false);
    return sheet;
  }
  static QList<PaintedButton*> fixButtons(QWidget* sheet) {
    QList<PaintedButton*> out;
    for (auto* b : sheet->findChildren<PaintedButton*>("issueFixButton"))
      if (b->isVisibleTo(sheet)) out << b;
    return out;
  }
};

}  // namespace

TEST_F(DoctorOutputSheetTest, WithoutAResultOnlyTheHintsRemain) {
  auto sheet = make(std::nullopt);
  EXPECT_EQ(labelText(sheet.get(), "doctorTitle"), "Diagnose · Health check");
  EXPECT_FALSE(shown(sheet.get(), "doctorSummary"));
  EXPECT_EQ(labelText(sheet.get(), "doctorNoResult"), "No diagnosis result returned");
  EXPECT_FALSE(shown(sheet.get(), "doctorTranscript"));
  EXPECT_EQ(labelText(sheet.get(), "doctorFooter"), "For deeper diagnosis, run the agent's doctor in a terminal");
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(labelText(sheet.get(), "doctorTitle"), "诊断 · 体检");
  setLanguage(AppLanguage::en);
  click(sheet.get(), "doctorCloseButton");
  EXPECT_EQ(closes, 1);
}

TEST_F(DoctorOutputSheetTest, NoIssuesGiveTheBannerAboveThePlainTranscript) {
  auto sheet = make(run(0.04, {}));
  EXPECT_EQ(labelText(sheet.get(), "doctorTitle"), "OpenClaw · Health check");
  EXPECT_EQ(labelText(sheet.get(), "doctorSummary"), "Exit 0 · 0.0s");
  EXPECT_TRUE(shown(sheet.get(), "doctorNoIssueBanner"));
  EXPECT_FALSE(shown(sheet.get(), "doctorCheckFailedBanner"));
  EXPECT_FALSE(shown(sheet.get(), "doctorIssuesSection"));
  auto* transcript = find<DoctorTranscriptView>(sheet.get(), "doctorTranscript");
  ASSERT_TRUE(waitUntil([&] { return !transcript->isLoading(); }));
  EXPECT_TRUE(transcript->toPlainText().contains("<b>not bold</b> <img src=x> & more"));
  EXPECT_TRUE(transcript->toPlainText().startsWith("$ oc doctor\n"));
  EXPECT_EQ(labelText(sheet.get(), "doctorFooter"), "For deeper diagnosis/fix, run in a terminal: oc doctor --fix");
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(labelText(sheet.get(), "doctorFooter"), "如要更深入诊断/修复，请到终端运行：oc doctor --fix");
  EXPECT_EQ(monospaced(sheet.get(), "doctorFooter"), QStringList{"oc doctor --fix"});
  // A doctor whose help lists no "--fix" is suggested as it is.
  AgentDoctor::Result noFixOption = run(0.04, {}, {"claude", "doctor"});
  noFixOption.helpListsFix = false;
  auto plain = make(noFixOption);
  EXPECT_EQ(labelText(plain.get(), "doctorFooter"), "如需深入诊断，请到终端运行：claude doctor");
  setLanguage(AppLanguage::en);
  EXPECT_EQ(labelText(plain.get(), "doctorFooter"), "For deeper diagnosis, run in a terminal: claude doctor");
  EXPECT_EQ(monospaced(plain.get(), "doctorFooter"), QStringList{"claude doctor"});
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(labelText(sheet.get(), "doctorSummary"), "退出码 0 · 0.0s");
  ASSERT_TRUE(waitUntil([&] { return !transcript->isLoading(); }));
  EXPECT_TRUE(transcript->toPlainText().endsWith("退出码：0  /  耗时：0.0s"));
  setLanguage(AppLanguage::en);
  EXPECT_EQ(labelText(make(run(1, {}, {})).get(), "doctorFooter"),
            "For deeper diagnosis, run the agent's doctor in a terminal");

  // A title longer than the sheet is shortened with "…" and whole for a
  // reader and in its tooltip, in both languages.
  AgentDoctor::Result named = run(1, {});
  named.entryDisplayName = QStringLiteral("Long ") + QString(75, QLatin1Char('x'));
  auto longer = make(named);
  longer->show();
  for (const AppLanguage language : {AppLanguage::en, AppLanguage::zh}) {
    setLanguage(language);
    QCoreApplication::processEvents();
    auto* title = find<Label>(longer.get(), "doctorTitle");
    EXPECT_TRUE(title->text().endsWith(QStringLiteral("…"))) << title->text().toStdString();
    EXPECT_EQ(title->toolTip(), title->fullText());
    EXPECT_EQ(title->accessibleName(), title->fullText());
    EXPECT_TRUE(wholeInView(title));
  }
  setLanguage(AppLanguage::en);
}

TEST_F(DoctorOutputSheetTest, ACheckThatDidNotSucceedWarnsAboveItsTranscript) {
  auto failed = make(run(1, {}, {"oc", "doctor"}, 2));
  EXPECT_FALSE(shown(failed.get(), "doctorNoIssueBanner"));
  EXPECT_TRUE(shown(failed.get(), "doctorCheckFailedBanner"));
  EXPECT_EQ(labelText(failed.get(), "doctorCheckFailedTitle"), "The check did not succeed");
  EXPECT_EQ(labelText(failed.get(), "doctorCheckFailedReason"), "Exit code 2");
  EXPECT_TRUE(shown(failed.get(), "doctorTranscript"));
  expectReadableInBothSchemes(*failed, "the doctor output of a check that did not succeed");

  AgentDoctor::Result waiting = run(120.2, {}, {"oc", "doctor"}, 143);
  waiting.timedOut = true;
  waiting.timeLimitSeconds = 120;
  auto stopped = make(waiting);
  EXPECT_EQ(labelText(stopped.get(), "doctorCheckFailedReason"), "Did not finish within 120 s");
  auto* transcript = find<DoctorTranscriptView>(stopped.get(), "doctorTranscript");
  ASSERT_TRUE(waitUntil([&] { return !transcript->isLoading(); }));
  EXPECT_TRUE(transcript->toPlainText().endsWith("Exit code: 143  /  Elapsed: 120.2s\nStopped: did not finish within 120 s"));
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(labelText(stopped.get(), "doctorCheckFailedTitle"), "检查未成功");
  EXPECT_EQ(labelText(stopped.get(), "doctorCheckFailedReason"), "120 秒内未完成");
  ASSERT_TRUE(waitUntil([&] { return !transcript->isLoading(); }));
  EXPECT_TRUE(transcript->toPlainText().endsWith("已中止：120 秒内未完成"));
  setLanguage(AppLanguage::en);
}

TEST_F(DoctorOutputSheetTest, IssuesAreNumberedCardsWithPlainTextAndTheirFixes) {
  auto sheet = make(run(1, {{knownIssue("a", "<b>Token</b> expired", "Refresh & retry"), "line 1"},
                            {knownIssue("b", "Port busy", "Free port"), ""}}));
  EXPECT_EQ(labelText(sheet.get(), "doctorIssuesHeading"), "Found 2 known issues");
  const QList<QLabel*> numbers = sheet->findChildren<QLabel*>("issueNumber");
  ASSERT_EQ(numbers.size(), 2);
  EXPECT_EQ(numbers[0]->text(), "1.");
  EXPECT_EQ(numbers[1]->text(), "2.");
  auto* title = sheet->findChildren<QLabel*>("issueTitle").value(0);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), "<b>Token</b> expired");
  EXPECT_EQ(title->textFormat(), Qt::PlainText);
  const QList<PaintedButton*> buttons = fixButtons(sheet.get());
  ASSERT_EQ(buttons.size(), 2);
  EXPECT_EQ(buttons[0]->label(), "Refresh & retry");
  EXPECT_EQ(buttons[0]->text(), "Refresh && retry") << "no mnemonic is taken from the title";
  EXPECT_EQ(buttons[0]->toolTip(), "Refresh & retry");
  EXPECT_EQ(sheet->findChildren<QLabel*>("issueSnippet").size(), 2) << "the matched line shows even when empty";
  expectReadableInBothSchemes(*sheet, "the doctor output with issues");

  // A fix the installed version does not know is not offered, and its card
  // says why, in the window's language.
  auto unknown = make(run(1, {{knownIssue("a", "T", "Migrate"), "x",
                               LocKey::doctorFixNoCommand("claude", "migrate-installer")},
                              {knownIssue("b", "U", "Fix U"), "y"}}));
  ASSERT_EQ(fixButtons(unknown.get()).size(), 1);
  EXPECT_EQ(fixButtons(unknown.get())[0]->label(), "Fix U");
  const QList<QLabel*> messages = unknown->findChildren<QLabel*>("issueFixMessage");
  ASSERT_EQ(messages.size(), 2);
  EXPECT_TRUE(messages[0]->isVisibleTo(unknown.get()));
  EXPECT_EQ(messages[0]->accessibleName(), "Not offered: this version's claude --help lists no migrate-installer command");
  EXPECT_FALSE(messages[1]->isVisibleTo(unknown.get()));
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(messages[0]->accessibleName(), "未提供：此版本的 claude --help 中没有 migrate-installer 命令");
  setLanguage(AppLanguage::en);

  auto noFix = make(run(1, {{knownIssue("a", "T", "F"), "x"}}), /*withFix=*/false);
  ASSERT_EQ(fixButtons(noFix.get()).size(), 1);
  EXPECT_FALSE(fixButtons(noFix.get())[0]->isEnabled());
  EXPECT_EQ(fixButtons(noFix.get())[0]->toolTip(), "Auto-fix not available here");
  EXPECT_EQ(labelText(make(run(1, {{knownIssue("a", "T", "F"), "x"}})).get(), "doctorIssuesHeading"),
            "Found 1 known issue");
}

TEST_F(DoctorOutputSheetTest, ASuccessfulFixRerunsAndEndsInTheAllFixedBanner) {
  auto sheet = make(run(1, {{knownIssue("a", "A", "Fix A"), "x"}, {knownIssue("b", "B", "Fix B"), "y"}}));
  QList<PaintedButton*> buttons = fixButtons(sheet.get());
  buttons[0]->click();
  EXPECT_EQ(buttons[0]->label(), "Fixing…");
  EXPECT_FALSE(buttons[0]->isEnabled());
  EXPECT_TRUE(buttons[1]->isEnabled());
  buttons[1]->click();
  fixes.takeLast()(AgentDoctor::FixResult::failure(LocKey::doctorErrWriteFile("permission denied")));
  EXPECT_EQ(buttons[1]->label(), "Fix B");
  EXPECT_TRUE(buttons[1]->isEnabled());
  const QList<QLabel*> messages = sheet->findChildren<QLabel*>("issueFixMessage");
  EXPECT_EQ(messages[1]->text(), "Write failed: permission denied");
  EXPECT_TRUE(messages[1]->isVisibleTo(sheet.get()));
  // Said again in the language the window speaks now.
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(messages[1]->text(), "写文件失败：permission denied");
  setLanguage(AppLanguage::en);

  fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  EXPECT_EQ(buttons[0]->label(), "Fixed");
  EXPECT_TRUE(shown(sheet.get(), "doctorRerunning"));
  EXPECT_EQ(labelText(sheet.get(), "doctorRerunning"), "Re-diagnosing…");
  EXPECT_FALSE(buttons[1]->isEnabled()) << "every fix waits while the doctor runs again";
  ASSERT_EQ(reruns.size(), 1);
  reruns.takeFirst()(run(2, {}));
  EXPECT_TRUE(shown(sheet.get(), "doctorAllFixedBanner")) << "also when another fix had failed";
  EXPECT_FALSE(shown(sheet.get(), "doctorIssuesSection"));
  EXPECT_FALSE(shown(sheet.get(), "doctorRerunning"));
}

TEST_F(DoctorOutputSheetTest, AFixReportedAfterTheSheetClosedChangesNothing) {
  auto sheet = make(run(1, {{knownIssue("a", "A", "Fix A"), "x"}}));
  fixButtons(sheet.get())[0]->click();
  sheet.reset();
  fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  EXPECT_TRUE(reruns.isEmpty());
}

TEST_F(DoctorOutputSheetTest, AfterAFixAndARerunTheRemainingCardAndItsButtonAreLaidOutInView) {
  auto sheet = make(run(1, {{knownIssue("a", "Token expired", "Refresh token"), "x"},
                            {knownIssue("b", "Port busy", "Free the port"), "y"}}));
  sheet->show();
  ASSERT_TRUE(waitUntil([&] { return sheet->isVisible(); }));
  fixButtons(sheet.get())[0]->click();
  fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  ASSERT_EQ(reruns.size(), 1);
  // The doctor runs again and one issue remains.
  reruns.takeFirst()(run(2, {{knownIssue("b", "Port busy", "Free the port"), "y"}}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the first run's cards

  auto* area = sheet->findChild<QScrollArea*>("doctorIssuesArea");
  ASSERT_NE(area, nullptr);
  const QList<PaintedButton*> buttons = fixButtons(sheet.get());
  ASSERT_EQ(buttons.size(), 1);
  auto* card = sheet->findChild<QWidget*>("doctorIssueCard1");
  ASSERT_NE(card, nullptr);
  EXPECT_TRUE(card->isVisible());
  EXPECT_GT(area->height(), card->sizeHint().height()) << "the area holds the heading and the card";
  // The fix button lies inside the part of the area that is on screen.
  const QRect button(buttons[0]->mapTo(area->viewport(), QPoint()), buttons[0]->size());
  EXPECT_TRUE(area->viewport()->rect().contains(button)) << button.y() << " in " << area->viewport()->height();
  EXPECT_GT(buttons[0]->height(), 10);
}
