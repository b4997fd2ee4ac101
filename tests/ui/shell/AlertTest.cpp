// The alert presenter the start-at-login question and its failure use.
#include "ui/shell/Alerts.h"
#include "ui/shell/ModalRun.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tlr;

namespace {

// Runs `act` on the alert once it is up.
void whenAlertShows(std::function<void(QMessageBox&)> act) {
  QTimer::singleShot(0, [act] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return act(*box);
  });
}

}  // namespace

TEST(AlertPresenter, ReturnsTheButtonChosenShowsPlainTextAndPausesTheScan) {
  const SelfGuardStore::AlertText text{QStringLiteral("Enable <b>auto-start</b>?"), QStringLiteral("A & B"),
                                       QStringLiteral("Enable & Go"), QStringLiteral("Not now")};
  bool paused = false;
  QString shownMessage, firstLabel;
  Qt::TextFormat format = Qt::RichText;
  whenAlertShows([&](QMessageBox& box) {
    paused = ScanPause::shared().isPaused();
    shownMessage = box.text();
    format = box.textFormat();
    auto* first = box.findChild<QPushButton*>(QStringLiteral("alertFirstButton"));
    firstLabel = first->accessibleName();
    first->click();
  });
  EXPECT_EQ(presentAlert(text), SelfGuardStore::AlertChoice::firstButton);
  EXPECT_TRUE(paused);
  EXPECT_FALSE(ScanPause::shared().isPaused());
  EXPECT_EQ(shownMessage, text.message);
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_EQ(firstLabel, QStringLiteral("Enable & Go"));

  whenAlertShows([](QMessageBox& box) { box.findChild<QPushButton*>(QStringLiteral("alertSecondButton"))->click(); });
  EXPECT_EQ(presentAlert(text), SelfGuardStore::AlertChoice::secondButton);
  // Closed with Esc: the second button's answer.
  whenAlertShows([](QMessageBox& box) { box.reject(); });
  EXPECT_EQ(presentAlert(text), SelfGuardStore::AlertChoice::secondButton);
}
