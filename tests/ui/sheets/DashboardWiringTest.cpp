// The sheets as the dashboard presents them.
#include "ui/dashboard/DashboardModel.h"
#include "ui/dashboard/DashboardTestSupport.h"
#include "ui/dashboard/DashboardSheets.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/detail/AgentDetailSheet.h"
#include "ui/sheets/AddAgentSheet.h"
#include "ui/sheets/UninstallSheet.h"
#include "ui/sheets/SheetTestSupport.h"

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
  auto* uninstall = detail->findChild<UninstallSheet*>();
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
