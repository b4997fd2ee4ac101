// The sheets as the dashboard presents them.
#include "ui/dashboard/DashboardModel.h"
#include "ui/dashboard/DashboardSheets.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/sheets/AddAgentSheet.h"
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
