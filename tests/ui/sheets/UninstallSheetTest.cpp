#include "ui/sheets/UninstallSheet.h"

#include "core/texts/ByteSizeText.h"
#include "support/gui/AssistiveTool.h"
#include "ui/sheets/SheetParts.h"
#include "ui/sheets/SheetTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace tlr;
using namespace tlr::test;

namespace {

class UninstallSheetTest : public SheetTest {
 protected:
  std::unique_ptr<UninstallSheet> sheet(const QByteArray& uninstall) {
    auto made = std::make_unique<UninstallSheet>(
        entryWith(uninstall.isEmpty() ? QByteArray() : R"(,"uninstall":)" + uninstall),
        [this] { calls << "close"; }, [this] { calls << "done"; }, SettingsStore::shared());
    made->setDeleteOnDismiss(false);
    return made;
  }
  void file(const QString& relative, int bytes) { home.writeFile(relative, QByteArray(bytes, 'x')); }
  static bool inPhase(const UninstallSheet& s, const QString& phase) {
    return s.findChild<QWidget*>("uninstallBody:" + phase) != nullptr;
  }
  static bool measured(UninstallSheet& s) { return s.session().isMeasured(); }
  static QAbstractButton* box(const UninstallSheet& s, const QString& key) {
    return s.findChild<QAbstractButton*>("uninstallCheck:" + key);
  }
  static QWidget* row(const UninstallSheet& s, const QString& key) {
    return s.findChild<QWidget*>("uninstallPath:" + key);
  }
  static QStringList stepLabels(const UninstallSheet& s) {
    QStringList labels;
    for (auto* r : s.findChildren<sheets::StepRowView*>("uninstallStep"))
      labels << r->findChild<sheets::ElidedText*>("stepLabel")->text();
    return labels;
  }
  QStringList calls;
};

}  // namespace

TEST_F(UninstallSheetTest, ThePreviewShowsPresentMissingAndUnmeasuredPaths) {
  file(".agent/cache", 1'500'000);
  file(".agent-data/memory", 2'000);
  const QString sibling = home.path() + "ice/x";  // shares the home folder's beginning only
  auto s = sheet(R"({"preCommands":[["tlr-stop","--all"],[]],"paths":["~/.agent","~/.agent-gone",")" +
                 sibling.toUtf8() + R"("],"userDataPaths":["~/.agent-data"]})");
  EXPECT_EQ(s->size(), QSize(560, 620));
  s->show();
  // Until every size has arrived: spinners, boxes that cannot change, no size in the button.
  if (!measured(*s)) {
    EXPECT_EQ(s->findChildren<QWidget*>("uninstallSpinner").size(), 4);
    EXPECT_TRUE(box(*s, "standard:~/.agent")->isChecked());
    EXPECT_FALSE(box(*s, "standard:~/.agent")->isEnabled());
    EXPECT_FALSE(box(*s, "userData:~/.agent-data")->isChecked());
    EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall");
  }
  ASSERT_TRUE(waitUntil([&] { return measured(*s); }));
  EXPECT_TRUE(s->findChildren<QWidget*>("uninstallSpinner").isEmpty());

  EXPECT_EQ(shown(*s, "uninstallCommand:0"), "$ tlr-stop --all");
  EXPECT_EQ(shown(*s, "uninstallCommand:1"), "$ ");
  EXPECT_EQ(child<SectionTitle>(*s, "uninstallGroupTitle:commands")->shownText(), "COMMANDS");
  EXPECT_EQ(child<SectionTitle>(*s, "uninstallGroupTitle:standard")->shownText(), "STANDARD");
  EXPECT_EQ(child<SectionTitle>(*s, "uninstallGroupTitle:userData")->shownText(), "USER DATA");

  const quint64 agentSize = *s->session().size("~/.agent");
  EXPECT_EQ(shown(*row(*s, "standard:~/.agent"), "uninstallSize"), decimalByteCount(agentSize));
  EXPECT_EQ(shown(*row(*s, "standard:~/.agent-gone"), "uninstallSize"), "Missing");
  EXPECT_EQ(child<sheets::ElidedText>(*row(*s, "standard:~/.agent"), "uninstallPathText")->text(), "~/.agent");
  // Only the home folder itself, or a path below it, is written with "~".
  EXPECT_EQ(child<sheets::ElidedText>(*row(*s, "standard:" + sibling), "uninstallPathText")->text(), sibling);

  // Present boxes change; missing ones stay as they are, standard ones checked.
  EXPECT_TRUE(box(*s, "standard:~/.agent")->isEnabled());
  EXPECT_FALSE(box(*s, "standard:~/.agent-gone")->isEnabled());
  EXPECT_TRUE(box(*s, "standard:~/.agent-gone")->isChecked());
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + decimalByteCount(agentSize) + ")");

  ASSERT_TRUE(click(*s, "uninstallCheck:userData:~/.agent-data"));
  EXPECT_TRUE(box(*s, "userData:~/.agent-data")->isChecked());
  const quint64 dataSize = *s->session().size("~/.agent-data");
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + decimalByteCount(agentSize + dataSize) + ")");
  ASSERT_TRUE(click(*s, "uninstallCheck:standard:~/.agent"));
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + decimalByteCount(dataSize) + ")");
  expectReadableInBothSchemes(*s, "the uninstall sheet's preview");

  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(shown(*s, "sheetTitle"), "卸载 Agent ZH");
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "彻底卸载（" + decimalByteCount(dataSize) + "）");
  EXPECT_EQ(shown(*row(*s, "standard:~/.agent-gone"), "uninstallSize"), "不存在");
  EXPECT_EQ(child<SectionTitle>(*s, "uninstallGroupTitle:userData")->shownText(), "用户数据");
  EXPECT_EQ(shown(*s, "uninstallCancelButton"), "取消");
}

// Refused paths used to show ticked and plain until the click, and to count
// in the button's total.
TEST_F(UninstallSheetTest, RefusedPathsShowTheirReasonUntickedBeforeTheClick) {
  file(".agent/blob", 2'000);
  auto s = sheet(R"({"paths":["~/.agent","/usr/share","~"],"userDataPaths":["~/.local"]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return measured(*s); }));
  for (const QString& key : {QString("standard:/usr/share"), QString("standard:~"), QString("userData:~/.local")}) {
    SCOPED_TRACE(key.toStdString());
    QAbstractButton* refused = box(*s, key);
    ASSERT_NE(refused, nullptr);
    EXPECT_FALSE(refused->isChecked());
    EXPECT_FALSE(refused->isEnabled());
    EXPECT_EQ(shown(*row(*s, key), "uninstallSize"), "Not removed");
    EXPECT_FALSE(refused->accessibleDescription().isEmpty()) << "a reader hears why";
  }
  auto* reason = child<sheets::ElidedText>(*row(*s, "standard:/usr/share"), "uninstallRefusal");
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(reason->text(), "unsafe path, not removed: it is outside your home folder");
  EXPECT_EQ(box(*s, "standard:/usr/share")->accessibleDescription(),
            "unsafe path, not removed: it is outside your home folder");
  EXPECT_EQ(child(*row(*s, "standard:~/.agent"), "uninstallRefusal"), nullptr);
  EXPECT_TRUE(box(*s, "standard:~/.agent")->isChecked());
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + decimalByteCount(*s->session().size("~/.agent")) + ")");

  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(shown(*row(*s, "standard:~"), "uninstallSize"), "不会删除");
  reason = child<sheets::ElidedText>(*row(*s, "standard:~"), "uninstallRefusal");
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(reason->text(), "路径不安全，拒绝删除：这是主目录、它的上级目录或多个程序共用的文件夹");
}

TEST_F(UninstallSheetTest, APathInBothGroupsCountsOnceInTheButton) {
  file(".shared/a", 3'000'000);
  auto s = sheet(R"({"paths":["~/.shared"],"userDataPaths":["~/.shared"]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return measured(*s); }));
  const QString size = decimalByteCount(*s->session().size("~/.shared"));
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + size + ")");
  ASSERT_TRUE(click(*s, "uninstallCheck:userData:~/.shared"));
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + size + ")");
}

TEST_F(UninstallSheetTest, NothingToUninstallDisablesTheButton) {
  auto s = sheet(QByteArray());
  s->show();
  EXPECT_EQ(shown(*s, "uninstallNothing"), "Nothing to uninstall");
  EXPECT_FALSE(child<QAbstractButton>(*s, "uninstallStartButton")->isEnabled());
  ASSERT_TRUE(click(*s, "uninstallCancelButton"));
  EXPECT_EQ(calls, QStringList{"close"});
}

TEST_F(UninstallSheetTest, WhatAScreenReaderOrTheKeyboardTicksIsWhatIsRemoved) {
  file(".agent/bin/tool", 2'000);
  file(".agent-cache/blob", 3'000'000);
  file(".agent-data/memory", 40'000);
  auto s = sheet(R"({"paths":["~/.agent","~/.agent-cache"],"userDataPaths":["~/.agent-data"]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return measured(*s); }));
  const quint64 agent = *s->session().size("~/.agent");
  const quint64 cache = *s->session().size("~/.agent-cache");
  const quint64 data = *s->session().size("~/.agent-data");

  // A screen reader's "Toggle" unticks the cache and ticks the user data.
  QAbstractButton* cacheBox = box(*s, "standard:~/.agent-cache");
  ASSERT_TRUE(assistiveToggle(cacheBox));
  EXPECT_FALSE(cacheBox->isChecked());
  EXPECT_FALSE(accessibleChecked(cacheBox));
  ASSERT_TRUE(assistiveToggle(box(*s, "userData:~/.agent-data")));
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + decimalByteCount(agent + data) + ")");
  // The boxes are the same widgets, so the reader and the keyboard keep their place.
  EXPECT_EQ(box(*s, "standard:~/.agent-cache"), cacheBox);

  // Space on the focused box ticks the cache again, and once more unticks it.
  cacheBox->setFocus();
  QTest::keyClick(cacheBox, Qt::Key_Space);
  EXPECT_TRUE(cacheBox->isChecked());
  EXPECT_EQ(shown(*s, "uninstallStartButton"), "Uninstall (" + decimalByteCount(agent + cache + data) + ")");
  QTest::keyClick(cacheBox, Qt::Key_Space);
  EXPECT_FALSE(cacheBox->isChecked());
  EXPECT_TRUE(cacheBox->hasFocus());

  ASSERT_TRUE(click(*s, "uninstallStartButton"));
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "done"); }));
  EXPECT_TRUE(QFileInfo::exists(home.path() + "/.agent-cache/blob")) << "the unticked folder is kept";
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/.agent"));
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/.agent-data"));
}

TEST_F(UninstallSheetTest, ExecutionReportsEachStepAndTheFailureBox) {
  file(".agent/bin/tool", 10);
  file(".agent-data/memory", 10);
  userProgram("tlr-wait", "while [ ! -e \"$HOME/go\" ]; do sleep 0.05; done\n");
  userProgram("tlr-stop", "echo 'still in use' >&2; exit 4\n");
  auto s = sheet(R"({"preCommands":[["tlr-wait"],["tlr-stop"]],"paths":["~/.agent","~/.local"],)"
                 R"("userDataPaths":["~/.agent-data"]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return measured(*s); }));
  ASSERT_TRUE(click(*s, "uninstallStartButton"));
  EXPECT_TRUE(inPhase(*s, "executing"));
  EXPECT_EQ(shown(*s, "uninstallRunningText"), "Uninstalling…");
  EXPECT_EQ(shown(*s, "uninstallRunningNote"), "Don't close this window…");
  EXPECT_EQ(child(*s, "uninstallStartButton"), nullptr);
  // No way out while it runs.
  auto* close = child<QAbstractButton>(*s, "uninstallCloseButton");
  EXPECT_FALSE(close->isEnabled());
  EXPECT_EQ(close->toolTip(), "Uninstall in progress — please wait");
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(s.get(), &escape);
  s->close();
  EXPECT_TRUE(calls.isEmpty());

  QFile(home.path() + "/go").open(QIODevice::WriteOnly);
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "done"); }));
  EXPECT_EQ(stepLabels(*s), (QStringList{"$ tlr-wait", "$ tlr-stop", "rm -rf ~/.agent", "(skipped) ~/.local"}));
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/.agent"));
  EXPECT_TRUE(QFileInfo::exists(home.path() + "/.agent-data/memory"));
  EXPECT_TRUE(QFileInfo::exists(home.path() + "/.local/bin/tlr-stop"));

  EXPECT_EQ(shown(*s, "uninstallSummary"), "Uninstalled (2 items failed)");
  auto* failureBox = child(*s, "uninstallFailureBox");
  ASSERT_NE(failureBox, nullptr);
  EXPECT_EQ(shown(*failureBox, "uninstallFailureTitle"), "Uninstall incomplete");
  EXPECT_EQ(shown(*failureBox, "uninstallFailureBody"), "2 items didn't uninstall, each for the reason under it:");
  QStringList lines;
  for (auto* line : failureBox->findChildren<sheets::ElidedText*>()) {
    if (line->objectName() == "uninstallFailureLine" || line->objectName() == "uninstallFailureReason")
      lines << line->text();
  }
  EXPECT_EQ(lines, (QStringList{"• $ tlr-stop", "still in use", "• (skipped) ~/.local",
                                "unsafe path, not removed: the home folder, a folder above it or a folder shared by "
                                "many programs"}));
  // No permission is to blame here, and nothing is the user's to remove by hand.
  EXPECT_EQ(child(*failureBox, "uninstallByHandNote"), nullptr);
  EXPECT_TRUE(failureBox->findChildren<QWidget*>("uninstallByHandLine").isEmpty());
  EXPECT_TRUE(child<QAbstractButton>(*s, "uninstallCloseButton")->isEnabled());
  expectReadableInBothSchemes(*s, "the uninstall sheet, done with failures");

  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(shown(*s, "uninstallSummary"), "已卸载（2 项未成功）");
  EXPECT_EQ(shown(*s, "uninstallDoneButton"), "完成");

  ASSERT_TRUE(click(*s, "uninstallDoneButton"));
  EXPECT_EQ(calls, (QStringList{"done", "close"}));
}

TEST_F(UninstallSheetTest, SevenFailuresListFiveAndHowManyMore) {
  QByteArray commands;
  for (int i = 1; i <= 7; ++i) commands += (i > 1 ? "," : "") + QByteArray(R"(["false","n)") + QByteArray::number(i) + "\"]";
  auto s = sheet(R"({"preCommands":[)" + commands + "]}");
  s->show();
  ASSERT_TRUE(click(*s, "uninstallStartButton"));
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "done"); }));
  QStringList lines;
  for (auto* line : s->findChildren<sheets::ElidedText*>("uninstallFailureLine")) lines << line->text();
  EXPECT_EQ(lines, (QStringList{"• $ false n1", "• $ false n2", "• $ false n3", "• $ false n4", "• $ false n5"}));
  EXPECT_EQ(child<sheets::ElidedText>(*s, "uninstallFailureMore")->text(), "…and 2 more");
  EXPECT_EQ(stepLabels(*s).size(), 7);
  // The header's close button after the end is only a close.
  ASSERT_TRUE(click(*s, "uninstallCloseButton"));
  EXPECT_EQ(calls, QStringList{"close"});
}

TEST_F(UninstallSheetTest, ARemovalOutlivesItsSheet) {
  file(".agent/x", 10);
  userProgram("tlr-wait", "while [ ! -e \"$HOME/go\" ]; do sleep 0.05; done\n");
  auto* s = new UninstallSheet(entryWith(R"(,"uninstall":{"preCommands":[["tlr-wait"]],"paths":["~/.agent"]})"),
                               [] {}, [] {}, SettingsStore::shared());
  s->show();
  ASSERT_TRUE(waitUntil([&] { return s->session().isMeasured(); }));
  ASSERT_TRUE(click(*s, "uninstallStartButton"));
  delete s;
  QFile(home.path() + "/go").open(QIODevice::WriteOnly);
  ASSERT_TRUE(waitUntil([&] { return !QFileInfo::exists(home.path() + "/.agent"); }));
}

TEST_F(UninstallSheetTest, TheEnabledUninstallButtonIsClearlyRedNotPale) {
  file(".agent/bin/tool", 2'000);
  auto s = sheet(R"({"paths":["~/.agent"]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return measured(*s); }));
  auto* start = child<QAbstractButton>(*s, "uninstallStartButton");
  ASSERT_TRUE(start->isEnabled());
  const QImage face = start->grab().toImage();
  const QColor fill = face.pixelColor(3, face.height() / 2);
  // The white label stands on it with a contrast of 3 : 1 or more.
  const auto luminance = [](const QColor& c) {
    const auto channel = [](qreal v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const qreal contrast = (1.0 + 0.05) / (luminance(fill) + 0.05);
  EXPECT_GE(contrast, 3.0) << fill.name().toStdString();
  EXPECT_GT(fill.red() - fill.green(), 120) << "red, not pink: " << fill.name().toStdString();
}
