// The sheets as the dashboard presents them.
#include "app/BackupSheetsWiring.h"
#include "app/DashboardSheetWiring.h"
#include "presentation/DashboardModel.h"
#include "presentation/DashboardTestSupport.h"
#include "ui/dashboard/DashboardSheets.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/detail/AgentDetailSheet.h"
#include "ui/detail/DoctorOutputSheet.h"
#include "ui/sheets/AddAgentSheet.h"
#include "ui/sheets/InstallSheet.h"
#include "ui/sheets/SheetTestSupport.h"
#include "ui/sheets/UninstallSheet.h"
#include "ui/shell/MainWindow.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace tlr;
using namespace tlr::test;

namespace {

QByteArray agent(const QByteArray& id) {
  return R"({"id":")" + id + R"(","displayName":")" + id + R"(","vendor":"v","kind":"cli","identify":{},)"
         R"("install":{"commands":[["true"]]}})";
}

}  // namespace

TEST_F(SheetTest, ThePlusButtonOpensTheAddAgentSheetThatFollowsTheScans) {
  const auto registry = registryOfAgents({agent("one"), agent("two")});
  DashboardModel model(registry, DashboardModel::Stores::shared());
  DashboardView view(model);
  view.resize(680, 560);
  view.show();
  installDashboardSheets(view);
  model.update({*registry->lookup("one")}, {});

  view.openAddAgent();
  auto* sheet = qobject_cast<AddAgentSheet*>(view.openSheet(DashboardView::SheetKind::addAgent));
  ASSERT_NE(sheet, nullptr);
  EXPECT_NE(child(*sheet, "addAgentInstalled:one"), nullptr);
  EXPECT_NE(child(*sheet, "addAgentInstall:two"), nullptr);

  // The next scan finds "two" installed: the open sheet moves it.
  model.update({*registry->lookup("one"), *registry->lookup("two")}, {});
  EXPECT_NE(child(*sheet, "addAgentInstalled:two"), nullptr);
  EXPECT_EQ(child(*sheet, "addAgentInstall:two"), nullptr);

  ASSERT_TRUE(click(*sheet, "addAgentCloseButton"));
  EXPECT_EQ(view.openSheet(DashboardView::SheetKind::addAgent), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(SheetTest, TheDetailSheetsUninstallRemovesTheAgentAndClosesBothSheets) {
  home.writeFile(".tlr-agent/bin/agent", QByteArray(2000, 'x'));
  home.writeFile(".tlr-agent-data/memory", QByteArray(2000, 'x'));
  const auto registry = registryOfAgents({R"({"id":"tlr-agent","displayName":"Agent","vendor":"v","kind":"cli",)"
                                          R"("identify":{"executableNames":["tlr-agent"]},)"
                                          R"("uninstall":{"paths":["~/.tlr-agent"],"userDataPaths":["~/.tlr-agent-data"]}})"});
  FakeAgentActions actions;
  DashboardModel model(registry, DashboardModel::Stores::shared());
  model.setWatcher(&actions);
  DashboardView view(model);
  view.resize(680, 560);
  view.show();
  installDashboardSheets(view);
  model.update({*registry->lookup("tlr-agent")}, {});
  ASSERT_EQ(model.dashboardItems().size(), 1);

  view.selectItem(model.dashboardItems().first());
  auto* detail = qobject_cast<AgentDetailSheet*>(view.openSheet(DashboardView::SheetKind::detail));
  ASSERT_NE(detail, nullptr);
  ASSERT_TRUE(click(*detail, "uninstallButton"));
  auto* uninstall = qobject_cast<UninstallSheet*>(detail->uninstallSheet());
  ASSERT_NE(uninstall, nullptr);
  ASSERT_TRUE(waitUntil([&] { return uninstall->session().isMeasured(); }));
  ASSERT_TRUE(click(*uninstall, "uninstallStartButton"));
  ASSERT_TRUE(waitUntil([&] { return uninstall->findChild<QWidget*>("uninstallBody:done") != nullptr; }));
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/.tlr-agent"));
  EXPECT_TRUE(QFileInfo::exists(home.path() + "/.tlr-agent-data/memory"));

  ASSERT_TRUE(click(*uninstall, "uninstallDoneButton"));
  EXPECT_EQ(view.openSheet(DashboardView::SheetKind::detail), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Every sheet is named after its title (what a screen reader reads) and is
// drawn inside the main window, never a window of its own; the window grows
// to hold a taller sheet while it is shown, no further than its screen's
// available area (800 × 600 here: a taller sheet is made shorter, its body
// scrolling over the footer kept in view), and returns to its size afterwards.
TEST_F(SheetTest, EverySheetIsNamedAfterItsTitleAndOpensInsideTheMainWindow) {
  const auto registry = registryOfAgents(
      {R"({"id":"tlr-agent","displayName":"Agent","vendor":"v","kind":"cli","identify":{"executableNames":["tlr-agent"]},)"
       R"("doctor":{"command":["tlr-agent","doctor"]},"install":{"commands":[["true"]]},)"
       R"("uninstall":{"paths":["~/.tlr-agent"]}})",
       agent("other")});
  FakeAgentActions actions;
  DashboardModel model(registry, DashboardModel::Stores::shared());
  model.setWatcher(&actions);
  MainWindow window;
  auto* view = new DashboardView(model);
  window.setBody(view);
  window.move(300, 100);
  window.show();
  installDashboardSheets(*view);
  installBackupSheets(*view);
  model.update({*registry->lookup("tlr-agent")}, {});
  const QRect home = window.geometry();
  ASSERT_EQ(home.size(), QSize(680, 560));

  const auto namedAndInside = [&](Sheet* sheet, const QString& title) {
    ASSERT_NE(sheet, nullptr) << title.toStdString();
    ASSERT_TRUE(waitUntil([&] { return sheet->isVisible(); }));
    EXPECT_EQ(sheet->windowTitle(), title);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(sheet)->text(QAccessible::Name), title);
    EXPECT_FALSE(sheet->isWindow()) << title.toStdString();
    EXPECT_EQ(sheet->window(), &window) << title.toStdString();
    EXPECT_TRUE(window.rect().contains(QRect(sheet->mapTo(&window, QPoint()), sheet->size())))
        << title.toStdString() << ": the sheet " << sheet->width() << "×" << sheet->height() << " inside "
        << window.width() << "×" << window.height();
    const auto scrolls = [sheet](QWidget* w) {
      for (; w && w != sheet; w = w->parentWidget())
        if (qobject_cast<QAbstractScrollArea*>(w)) return true;
      return false;
    };
    for (QWidget* button : sheet->findChildren<QAbstractButton*>()) {
      if (button->isVisibleTo(sheet) && !scrolls(button)) {
        EXPECT_TRUE(QRect(QPoint(), sheet->size()).contains(QRect(button->mapTo(sheet, QPoint()), button->size())))
            << title.toStdString() << ": " << button->objectName().toStdString() << " past the sheet's edge";
      }
    }
  };
  // The settings, legal and backup sheets open with the kit's one header:
  // the title and Close at the same places in the same font, elided, and a
  // divider across the sheet under them; measured against the settings
  // sheet's.
  struct Header {
    QRect title, close, divider;
    QFont font;
    bool operator==(const Header&) const = default;
  };
  std::optional<Header> kitHeader;
  const auto headerOf = [](Sheet* sheet, const QString& prefix) {
    Header header;
    auto* title = sheet->findChild<Label*>(prefix + "Title");
    auto* close = sheet->findChild<QWidget*>(prefix + "Close");
    if (!title || !close) return header;
    const QPoint fromRight(sheet->width(), 0);
    header.title = QRect(title->mapTo(sheet, QPoint()), QSize(0, title->height()));
    header.close = QRect(close->mapTo(sheet, QPoint()) - fromRight, close->size());
    header.font = title->font();
    for (auto* divider : sheet->findChildren<Divider*>())
      if (divider->y() > close->mapTo(sheet, QPoint()).y() &&
          (header.divider.isNull() || divider->y() < header.divider.y()))
        header.divider = QRect(divider->mapTo(sheet, QPoint()), divider->size()).adjusted(0, 0, -sheet->width(), 0);
    EXPECT_EQ(title->fullText(), sheet->windowTitle()) << prefix.toStdString();
    EXPECT_LE(title->width(), close->x() - title->x()) << prefix.toStdString() << ": the title is elided";
    return header;
  };
  const auto hasTheKitHeader = [&](Sheet* sheet, const QString& prefix) {
    ASSERT_NE(sheet, nullptr) << prefix.toStdString();
    const Header header = headerOf(sheet, prefix);
    if (!kitHeader) kitHeader = header;
    EXPECT_FALSE(header.divider.isNull()) << prefix.toStdString();
    EXPECT_TRUE(header == *kitHeader) << prefix.toStdString() << ": title at " << header.title.x() << ","
                                      << header.title.y() << ", divider at " << header.divider.y();
  };
  const auto closeAndReturn = [&](DashboardView::SheetKind kind) {
    view->openSheet(kind)->requestClose();
    EXPECT_EQ(view->openSheet(kind), nullptr);
    EXPECT_EQ(window.geometry(), home) << "back where it was";
  };
  using Kind = DashboardView::SheetKind;

  view->openSettings();
  namedAndInside(view->openSheet(Kind::settings), "Settings");
  hasTheKitHeader(view->openSheet(Kind::settings), "settings");
  closeAndReturn(Kind::settings);

  view->openAddAgent();
  auto* add = view->openSheet(Kind::addAgent);
  namedAndInside(add, "Add Agent");
  EXPECT_EQ(window.height(), 580 + 2 * 8) << "the 580-high sheet made room for itself";
  ASSERT_TRUE(click(*add, "addAgentInstall:other"));
  namedAndInside(window.findChild<InstallSheet*>(), "Install other");
  closeAndReturn(Kind::addAgent);

  view->openBackup();
  auto* backup = view->openSheet(Kind::backup);
  namedAndInside(backup, "Backup & Restore");
  hasTheKitHeader(backup, "backup");
  EXPECT_GE(window.height(), 600);
  ASSERT_TRUE(click(*backup, "backupSetupVolume"));
  hasTheKitHeader(window.findChild<FirstTimeSetupSheet*>(), "firstSetup");
  window.findChild<FirstTimeSetupSheet*>()->requestClose();
  ASSERT_TRUE(click(*backup, "backupRestoreFromBackup"));
  ASSERT_TRUE(waitUntil([&] { return view->openSheet(Kind::restore) != nullptr; }));
  namedAndInside(view->openSheet(Kind::restore), "Restore from backup");
  hasTheKitHeader(view->openSheet(Kind::restore), "restore");
  closeAndReturn(Kind::restore);
  view->openBackup();
  ASSERT_TRUE(click(*view->openSheet(Kind::backup), "backupExportUSB"));
  ASSERT_TRUE(waitUntil([&] { return view->openSheet(Kind::usbExport) != nullptr; }));
  namedAndInside(view->openSheet(Kind::usbExport), "Export to USB");
  hasTheKitHeader(view->openSheet(Kind::usbExport), "usb");
  closeAndReturn(Kind::usbExport);

  view->selectItem(model.dashboardItems().first());
  auto* detail = qobject_cast<AgentDetailSheet*>(view->openSheet(Kind::detail));
  namedAndInside(detail, "Agent");
  ASSERT_TRUE(click(*detail, "uninstallButton"));
  namedAndInside(detail->uninstallSheet(), "Uninstall Agent");
  EXPECT_GE(window.height(), 620);
  detail->uninstallSheet()->requestClose();
  EXPECT_EQ(window.geometry(), home) << "the detail sheet alone fits the window as it was";
  // A window that cannot grow (a short screen): the sheet is made shorter,
  // its body scrolls, and its footer stays inside.
  window.setMaximumHeight(560);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(click(*detail, "uninstallButton"));
  namedAndInside(detail->uninstallSheet(), "Uninstall Agent");
  EXPECT_EQ(window.height(), 560);
  EXPECT_EQ(detail->uninstallSheet()->height(), 560 - 2 * 8) << "made shorter";
  detail->uninstallSheet()->requestClose();
  window.setMaximumHeight(QWIDGETSIZE_MAX);
  EXPECT_EQ(window.geometry(), home) << "the detail sheet alone fits the window as it was";
  ASSERT_TRUE(click(*detail, "doctorButton"));
  ASSERT_FALSE(actions.doctorCompletions.isEmpty());
  AgentDoctor::Result result;
  result.entryDisplayName = "Agent";
  result.command = {"tlr-agent", "doctor"};
  actions.doctorCompletions.takeLast()(result);
  namedAndInside(detail->doctorOutputSheet(), "Agent · Health check");
  EXPECT_GE(window.height(), 560 + 2 * 8);
  detail->doctorOutputSheet()->requestClose();
  closeAndReturn(Kind::detail);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
