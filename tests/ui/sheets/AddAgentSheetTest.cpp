#include "ui/sheets/AddAgentSheet.h"

#include "ui/kit/Alert.h"
#include "ui/sheets/InstallSheet.h"
#include "support/gui/InView.h"
#include "ui/sheets/SheetTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLayout>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace tlr;
using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

QByteArray agent(const QByteArray& id, const QByteArray& extra = {}, const QByteArray& kind = "cli") {
  return R"({"id":")" + id + R"(","displayName":")" + id + R"( ZH","displayNameEN":")" + id +
         R"(","vendor":"v","kind":")" + kind + R"(","identify":{})" + extra + "}";
}

const QByteArray kCommands = R"(,"install":{"commands":[["true"]]})";

class AddAgentSheetTest : public SheetTest {
 protected:
  std::unique_ptr<AddAgentSheet> sheet(const QList<QByteArray>& agents, const QSet<QString>& installed) {
    auto made = std::make_unique<AddAgentSheet>(registryOfAgents(agents), installed, [this] { ++closes; },
                                                [this] { ++didInstalls; }, SettingsStore::shared());
    made->setDeleteOnDismiss(false);
    return made;
  }
  // The rows of a section, in the order shown.
  static QStringList rowIds(const QWidget& section) {
    QStringList ids;
    for (QWidget* w : section.findChildren<QWidget*>()) {
      if (w->objectName().startsWith("addAgentRow:")) ids << w->objectName().mid(12);
    }
    return ids;
  }
  int closes = 0;
  int didInstalls = 0;
};

}  // namespace

TEST_F(AddAgentSheetTest, NotInstalledComesFirstAndBothListsKeepRegistryOrder) {
  auto s = sheet({agent("c", kCommands), agent("hidden", kCommands + R"(,"hidden":true)"), agent("a", kCommands, "desktop-app"),
                  agent("plain"), agent("done-plain", {}, "ide-plugin"), agent("b", kCommands)},
                 {"b", "done-plain", "hidden", "elsewhere"});
  EXPECT_EQ(s->size(), QSize(460, 580));
  EXPECT_EQ(shown(*s, "sheetTitle"), "Add Agent");
  auto* notInstalled = child(*s, "addAgentSectionNotInstalled");
  auto* installed = child(*s, "addAgentSectionInstalled");
  ASSERT_NE(notInstalled, nullptr);
  ASSERT_NE(installed, nullptr);
  EXPECT_LT(notInstalled->y(), installed->y() + 1);
  const QLayout* layout = notInstalled->parentWidget()->layout();
  EXPECT_LT(layout->indexOf(notInstalled), layout->indexOf(installed));
  EXPECT_EQ(rowIds(*notInstalled), (QStringList{"c", "a"}));
  EXPECT_EQ(rowIds(*installed), (QStringList{"done-plain", "b"}));
  EXPECT_EQ(child<SectionTitle>(*s, "addAgentSectionTitleNotInstalled")->shownText(), "NOT INSTALLED");
  EXPECT_EQ(child<SectionTitle>(*s, "addAgentSectionTitleInstalled")->shownText(), "INSTALLED");

  // Names and kinds in the language; the trailing element.
  auto* a = child(*s, "addAgentRow:a");
  EXPECT_EQ(shown(*a, "addAgentName"), "a");
  EXPECT_EQ(shown(*a, "addAgentKind"), "App");
  EXPECT_EQ(shown(*a, "addAgentInstall:a"), "Install");
  // Each row's button says, to a screen reader, which agent it installs.
  EXPECT_EQ(child(*a, "addAgentInstall:a")->accessibleName(), "Install a");
  EXPECT_EQ(child(*s, "addAgentInstall:c")->accessibleName(), "Install c");
  EXPECT_EQ(shown(*child(*s, "addAgentRow:done-plain"), "addAgentKind"), "Plugin");
  EXPECT_EQ(shown(*s, "addAgentInstalled:b"), "Installed");
  EXPECT_EQ(child(*s, "addAgentInstall:b"), nullptr);

  // A divider under every row but the last of its card.
  EXPECT_NE(child(*s, "addAgentDivider:c"), nullptr);
  EXPECT_EQ(child(*s, "addAgentDivider:a"), nullptr);
  EXPECT_NE(child(*s, "addAgentDivider:done-plain"), nullptr);
  EXPECT_EQ(child(*s, "addAgentDivider:b"), nullptr);
  EXPECT_EQ(shown(*s, "addAgentFooter"), "More agents coming soon…");
  expectReadableInBothSchemes(*s, "the add-agent sheet");

  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(shown(*s, "sheetTitle"), "添加 Agent");
  EXPECT_EQ(child<SectionTitle>(*s, "addAgentSectionTitleNotInstalled")->shownText(), "未安装");
  EXPECT_EQ(shown(*child(*s, "addAgentRow:a"), "addAgentName"), "a ZH");
  EXPECT_EQ(shown(*child(*s, "addAgentRow:a"), "addAgentKind"), "App");
  EXPECT_EQ(shown(*child(*s, "addAgentRow:done-plain"), "addAgentKind"), "插件");
  EXPECT_EQ(shown(*s, "addAgentInstall:a"), "安装");
  EXPECT_EQ(child(*s, "addAgentInstall:a")->accessibleName(), "安装 a ZH");
  EXPECT_EQ(shown(*s, "addAgentInstalled:b"), "已安装");
  EXPECT_EQ(shown(*s, "addAgentFooter"), "更多 Agent 陆续接入中…");
}

// A name longer than the sheet is shortened with "…", whole in its tooltip
// and for a reader; every Install button stays in view, and neither Tab nor
// anything else scrolls the list sideways.
TEST_F(AddAgentSheetTest, ALongNameIsShortenedAndEveryButtonStaysInView) {
  const QByteArray longName = QByteArray("long-").append(QByteArray(75, 'x'));
  auto s = sheet({agent("a", kCommands), agent(longName, kCommands), agent("b", kCommands), agent("c", kCommands),
                  agent("d", kCommands), agent("e", kCommands), agent("f", kCommands), agent("g", kCommands),
                  agent("h", kCommands), agent("done-" + longName, kCommands)},
                 {"done-" + longName});
  s->show();
  s->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(s.get()));
  for (const AppLanguage language : {AppLanguage::en, AppLanguage::zh}) {
    SCOPED_TRACE(language == AppLanguage::en ? "en" : "zh");
    SettingsStore::shared().setLanguage(language);
    QCoreApplication::processEvents();
    for (const QString& id : QStringList{QString::fromLatin1(longName), "done-" + QString::fromLatin1(longName)}) {
      auto* name = child<Label>(*child(*s, "addAgentRow:" + id), "addAgentName");
      ASSERT_NE(name, nullptr);
      EXPECT_TRUE(name->text().endsWith(QStringLiteral("…"))) << name->text().toStdString();
      EXPECT_LE(name->mapTo(s.get(), QPoint(name->width(), 0)).x(), s->width() - 20) << "inside the card";
      EXPECT_EQ(name->toolTip(), name->fullText());
      EXPECT_EQ(name->accessibleName(), name->fullText());
    }
    QWidget* mark = child(*s, "addAgentInstalled:done-" + QString::fromLatin1(longName));
    EXPECT_LE(mark->mapTo(s.get(), QPoint(mark->width(), 0)).x(), s->width() - 20) << "inside the card";
    // Tab through every control: each one it reaches is in view.
    child(*s, "addAgentCloseButton")->setFocus(Qt::TabFocusReason);
    QStringList reached;
    for (int i = 0; i < 12; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QWidget* focused = QApplication::focusWidget();
      reached << focused->objectName();
      EXPECT_TRUE(wholeInView(focused)) << focused->objectName().toStdString();
      EXPECT_EQ(sidewaysScrolling(*s), QStringList());
    }
    EXPECT_TRUE(reached.contains("addAgentInstall:" + QString::fromLatin1(longName)));
    EXPECT_TRUE(reached.contains("addAgentInstall:h"));

    // The keys that scroll the list take the focus with them: it never
    // stays behind, under the header.
    child(*s, "addAgentInstall:a")->setFocus(Qt::TabFocusReason);
    for (const auto& [key, expected] : {std::pair{Qt::Key_End, "addAgentInstall:h"},
                                        std::pair{Qt::Key_Home, "addAgentInstall:a"},
                                        std::pair{Qt::Key_PageDown, ""}, std::pair{Qt::Key_PageUp, "addAgentInstall:a"}}) {
      QTest::keyClick(QApplication::focusWidget(), key);
      QCoreApplication::processEvents();
      QWidget* focused = QApplication::focusWidget();
      if (*expected) EXPECT_EQ(focused->objectName(), QLatin1String(expected));
      else EXPECT_NE(focused->objectName(), QStringLiteral("addAgentInstall:a")) << "a page further down";
      EXPECT_TRUE(wholeInView(focused)) << focused->objectName().toStdString() << " after key " << key;
    }
  }
}

TEST_F(AddAgentSheetTest, EmptyListsHaveNoSection) {
  auto allInstalled = sheet({agent("a", kCommands), agent("b")}, {"a", "b"});
  EXPECT_EQ(child(*allInstalled, "addAgentSectionNotInstalled"), nullptr);
  EXPECT_NE(child(*allInstalled, "addAgentSectionInstalled"), nullptr);

  auto nothing = sheet({agent("a"), agent("b")}, {});
  EXPECT_EQ(child(*nothing, "addAgentSectionNotInstalled"), nullptr);
  EXPECT_EQ(child(*nothing, "addAgentSectionInstalled"), nullptr);
  EXPECT_NE(child(*nothing, "addAgentFooter"), nullptr);

  // The presenter's new set moves an agent between the lists.
  allInstalled->setInstalledIds({"b"});
  ASSERT_NE(child(*allInstalled, "addAgentSectionNotInstalled"), nullptr);
  EXPECT_NE(child(*allInstalled, "addAgentInstall:a"), nullptr);
}

TEST_F(AddAgentSheetTest, AWebsiteOpensInTheBrowserAndNeverTheInstallSheet) {
  auto s = sheet({agent("web", R"(,"install":{"officialUrl":"https://web.example/download","commands":[["true"]]})"),
                  agent("bad", R"(,"install":{"officialUrl":"web.example","commands":[["true"]]})"),
                  agent("none", R"(,"install":{"officialUrl":"no address"})")},
                 {});
  s->show();
  ASSERT_TRUE(click(*s, "addAgentInstall:web"));
  EXPECT_EQ(recorded(opened), "https://web.example/download\n--\n");
  EXPECT_EQ(s->installSheet(), nullptr);
  EXPECT_FALSE(s->installingEntryId());

  ASSERT_TRUE(click(*s, "addAgentInstall:none"));
  EXPECT_EQ(s->installSheet(), nullptr);

  ASSERT_TRUE(click(*s, "addAgentInstall:bad"));
  ASSERT_NE(s->installSheet(), nullptr);
  EXPECT_EQ(s->installingEntryId(), "bad");
  EXPECT_EQ(shown(*s->installSheet(), "sheetTitle"), "Install bad");
  EXPECT_EQ(readFile(opened), "https://web.example/download\n--\n");
}

TEST_F(AddAgentSheetTest, AWebsiteTheDesktopCannotOpenIsSaidWithTheAddressToCopy) {
  auto s = sheet({agent("web", R"(,"install":{"officialUrl":"https://web.example/download","commands":[["true"]]})")},
                 {});
  s->show();
  const auto openFailed = [&] {
    Alert* box = nullptr;
    EXPECT_TRUE(waitUntil([&] { return (box = s->findChild<Alert*>("openFailedAlert")) != nullptr; }, 10s));
    return box;
  };
  // No browser: xdg-open says so and ends with 3.
  bin.add("xdg-open", "echo \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n");
  ASSERT_TRUE(click(*s, "addAgentInstall:web"));
  Alert* box = openFailed();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->title(), "Couldn't open the link");
  EXPECT_EQ(box->message(), "No program on this desktop opened it (xdg-open ended with status 3). "
                            "Select it below to copy it and open it yourself.");
  auto* address = box->findChild<QLineEdit*>("openFailedTarget");
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(address->text(), "https://web.example/download");
  EXPECT_TRUE(address->isReadOnly());
  EXPECT_EQ(s->installSheet(), nullptr) << "the official page still wins over the commands";
  ASSERT_TRUE(click(*box, "alertGotIt"));
  ASSERT_TRUE(waitUntil([&] { return s->findChild<Alert*>("openFailedAlert") == nullptr; }));

  // No opener at all, in Chinese.
  SettingsStore::shared().setLanguage(AppLanguage::zh);
  const QByteArray savedPath = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(home.path() + "/empty-bin"));
  ASSERT_TRUE(click(*s, "addAgentInstall:web"));
  box = openFailed();
  qputenv("PATH", savedPath);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->title(), "无法打开链接");
  EXPECT_TRUE(box->message().startsWith("无法启动桌面打开程序 xdg-open（")) << box->message().toStdString();
  EXPECT_EQ(box->findChild<QLineEdit*>("openFailedTarget")->text(), "https://web.example/download");
}

TEST_F(AddAgentSheetTest, DoneInTheInstallSheetCallsOnDidInstallOnceAndClosesIt) {
  auto s = sheet({agent("ok", kCommands), agent("fails", R"(,"install":{"commands":[["false"]]})")}, {});
  s->show();
  for (const QString id : {"ok", "fails"}) {
    SCOPED_TRACE(id.toStdString());
    const int before = didInstalls;
    ASSERT_TRUE(click(*s, "addAgentInstall:" + id));
    QPointer<InstallSheet> install = s->installSheet();
    ASSERT_NE(install, nullptr);
    ASSERT_TRUE(waitUntil([&] { return install->findChild<QWidget*>("installBody:done") != nullptr; }));
    ASSERT_TRUE(click(*install, "installDoneButton"));
    EXPECT_EQ(didInstalls, before + 1);
    EXPECT_EQ(s->installSheet(), nullptr);
    EXPECT_FALSE(s->installingEntryId());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(install.isNull());
  }
  EXPECT_EQ(closes, 0);
  EXPECT_TRUE(s->isVisible());
}

TEST_F(AddAgentSheetTest, ClosingOrCancellingTheInstallSheetIsNoInstall) {
  auto s = sheet({agent("later", R"(,"install":{"requires":[{"command":"tlr-never-here"}],"commands":[["true"]]})")}, {});
  s->show();
  ASSERT_TRUE(click(*s, "addAgentInstall:later"));
  QPointer<InstallSheet> install = s->installSheet();
  ASSERT_NE(install, nullptr);
  ASSERT_TRUE(waitUntil([&] { return install->findChild<QWidget*>("installBody:missing") != nullptr; }));
  ASSERT_TRUE(click(*install, "installCloseFooterButton"));
  EXPECT_EQ(s->installSheet(), nullptr);

  ASSERT_TRUE(click(*s, "addAgentInstall:later"));
  ASSERT_NE(s->installSheet(), nullptr);
  ASSERT_TRUE(click(*s->installSheet(), "installCloseButton"));
  EXPECT_EQ(s->installSheet(), nullptr);
  EXPECT_EQ(didInstalls, 0);

  ASSERT_TRUE(click(*s, "addAgentCloseButton"));
  EXPECT_EQ(closes, 1);
}
