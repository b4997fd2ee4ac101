// The dashboard as drawn, in both schemes and both languages. With
// TLR_SCREENSHOT_DIR set, the four pictures are also written there
// (dashboard-<scheme>-<language>.png).
#include "presentation/DashboardTestSupport.h"
#include "support/gui/ApplicationLook.h"
#include "support/gui/ReadableTexts.h"

#include "ui/dashboard/AgentRowView.h"
#include "ui/dashboard/DashboardPainting.h"
#include "ui/dashboard/DashboardParts.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::agentEntry;
using test::runningRecord;
using Kind = AgentEntry::Kind;

struct Look {
  AppearancePreference appearance;
  AppLanguage language;
  const char* name;
};

class DashboardLookTest : public ::testing::TestWithParam<Look> {
 protected:
  test::TempHome home;
  SettingsStore settings;
  test::ApplicationLook applicationLook;
};

bool close(QColor a, QColor b, int tolerance = 3) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST_P(DashboardLookTest, DrawsTheSchemesColoursAndEveryRowState) {
  const Look look = GetParam();
  applicationLook.set(look.appearance);
  settings.setLanguage(look.language);
  const bool dark = look.appearance == AppearancePreference::dark;
  ASSERT_EQ(Theme::current().dark, dark);

  test::FakeAgentActions actions;
  DashboardModel model(nullptr, {&EventStore::shared(), &LockOnlineStore::shared(), &settings});
  model.setWatcher(&actions);
  AgentEntry app = agentEntry("studio", Kind::desktopApp), cli = agentEntry("coder"),
             plugin = agentEntry("helper", Kind::idePlugin), gateway = agentEntry("gateway");
  app.displayName = "Studio";
  cli.displayName = "Coder CLI";
  plugin.displayName = "Helper for Editors";
  gateway.displayName = "Gateway";
  LockOnlineStore::shared().setLocked("studio", true);
  EventStore::shared().append(AgentEvent::make("coder", AgentEventType::exitedAbnormal));
  model.update({app, cli, plugin, gateway}, {runningRecord(app, 11), runningRecord(cli, 12)});

  DashboardView view(model);
  view.resize(680, 560);
  view.show();
  QApplication::processEvents();
  const QImage shot = view.grab().toImage();
  // Every text drawn reads at 4.5:1, as drawn (a kind chip's faded words on
  // its faint fill among them).
  EXPECT_EQ(test::unreadableTexts(view).join(QStringLiteral("; ")).toStdString(), "");
  if (const QString dir = qEnvironmentVariable("TLR_SCREENSHOT_DIR"); !dir.isEmpty()) {
    QDir().mkpath(dir);
    shot.save(dir + QStringLiteral("/dashboard-%1.png").arg(QLatin1String(look.name)));
  }

  // The window's background, left of the rows.
  const qreal dpr = shot.devicePixelRatio();
  auto pixel = [&](QPoint p) { return shot.pixelColor(QPoint(qRound(p.x() * dpr), qRound(p.y() * dpr))); };
  EXPECT_TRUE(close(pixel(QPoint(4, 400)), dark ? Theme::appBgDark : Theme::appBgLight)) << pixel(QPoint(4, 400)).name().toStdString();
  // The first metric card on the brand gradient, the others on the card colour.
  MetricCard* first = view.metricCard(0);
  const QPoint firstInside = first->mapTo(&view, QPoint(6, first->height() / 2));
  const QColor brand = pixel(firstInside);
  EXPECT_GT(brand.blue(), brand.red() + 60) << brand.name().toStdString();
  // Its glow, drawn off the window thread when the card got its size (the
  // light scheme's only), has the pixels of one drawn here afresh.
  if (!dark) {
    const QSizeF card(first->size());
    const QColor glow = Theme::withOpacity(Theme::current().brandStart, 0.25);
    QImage kept((card + QSizeF(80, 80)).toSize(), QImage::Format_ARGB32_Premultiplied);
    kept.fill(Qt::transparent);
    QImage fresh = kept;
    {
      QPainter painter(&kept);
      DashboardPainting::drawShadow(painter, QPointF(40, 40), card, 14, glow, 10);
    }
    QPointF origin;
    const QImage image = Painting::softShape(Painting::continuousRoundRect(QRectF(QPointF(), card), 14), glow, 10, 1, &origin);
    QPainter(&fresh).drawImage(QPointF(40, 40) + origin, image);
    EXPECT_EQ(kept, fresh);
  }
  MetricCard* total = view.metricCard(3);
  EXPECT_TRUE(close(pixel(total->mapTo(&view, QPoint(total->width() - 8, total->height() - 8))),
                    dark ? Theme::cardDark : Theme::cardLight))
      << pixel(total->mapTo(&view, QPoint(total->width() - 8, total->height() - 8))).name().toStdString();
  // A card leads nowhere: no arrow in its top-right corner.
  const QPoint corner = total->mapTo(&view, QPoint(total->width() - 14 - 9, 14 + 9));
  EXPECT_TRUE(close(pixel(corner), dark ? Theme::cardDark : Theme::cardLight)) << pixel(corner).name().toStdString();
  // Each state button in its colours: red faulted, green running, gradient launch.
  auto buttonColour = [&](const QString& id) {
    SecondaryButton* b = view.rowView(id)->stateButton();
    return pixel(b->mapTo(&view, QPoint(3, b->height() / 2)));
  };
  const QColor faulted = buttonColour("coder"), running = buttonColour("studio"), launch = buttonColour("helper");
  EXPECT_GT(faulted.red(), faulted.green() + 10) << faulted.name().toStdString();
  EXPECT_GT(running.green(), running.red() + 10) << running.name().toStdString();
  EXPECT_GT(launch.blue(), launch.red() + 60) << launch.name().toStdString();
  // The faulted row's border is red too; a running row's is grey.
  auto borderColour = [&](const QString& id) {
    AgentRowView* row = view.rowView(id);
    return pixel(row->mapTo(&view, QPoint(0, row->height() / 2)));
  };
  const QColor faultedBorder = borderColour("coder"), runningBorder = borderColour("studio");
  EXPECT_GT(faultedBorder.red(), faultedBorder.green() + 30) << faultedBorder.name().toStdString();
  EXPECT_LE(std::abs(runningBorder.red() - runningBorder.green()), 6) << runningBorder.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(SchemesAndLanguages, DashboardLookTest,
                         ::testing::Values(Look{AppearancePreference::light, AppLanguage::en, "light-en"},
                                           Look{AppearancePreference::dark, AppLanguage::en, "dark-en"},
                                           Look{AppearancePreference::light, AppLanguage::zh, "light-zh"},
                                           Look{AppearancePreference::dark, AppLanguage::zh, "dark-zh"}),
                         [](const auto& info) {
                           QString name = QLatin1String(info.param.name);
                           return name.replace('-', '_').toStdString();
                         });

}  // namespace
}  // namespace tlr
