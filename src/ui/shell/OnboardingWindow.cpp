#include "ui/shell/OnboardingWindow.h"

#include "core/stores/SettingsStore.h"
#include "presentation/ScanPause.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/Theme.h"
#include "ui/kit/WindowManagerHints.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

namespace tlr {

OnboardingWindow::OnboardingWindow(QImage brandIcon, Home home, ScanPause& pause, const SettingsStore& settings,
                                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      brandIcon_(std::move(brandIcon)),
      pause_(pause) {
  setObjectName(QStringLiteral("onboardingWindow"));
  setWindowModality(Qt::ApplicationModal);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(30, 28, 30, 28);
  column->setSpacing(22);

  auto* header = new QHBoxLayout();
  header->setSpacing(14);
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("onboardingIcon"));
  QPixmap pixmap = QPixmap::fromImage(brandIcon_.scaled(QSize(88, 88), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(2.0);
  icon->setPixmap(pixmap);
  icon->setFixedSize(44, 44);
  header->addWidget(icon);
  auto* title = new Label(QString(), 17, QFont::Bold, TextRole::primary, this);
  title->setObjectName(QStringLiteral("onboardingTitle"));
  header->addWidget(title, 1);
  column->addLayout(header);

  auto* body = new Label(QString(), 13, QFont::Normal, TextRole::primary, this);
  body->setObjectName(QStringLiteral("onboardingBody"));
  body->setWordWrap(true);
  column->addWidget(body);

  // The hint card: white 0.04 (dark) or black 0.03 (light), a faint hairline.
  auto* card = new Card(this, 10);
  card->setFill([] {
    const Theme::Roles r = Theme::current();
    return r.contrast(r.dark ? 0.04 : 0.03);
  });
  card->setEdge(0.06 * 0.6, 0.5);
  card->setObjectName(QStringLiteral("onboardingCard"));
  auto* cardColumn = new QVBoxLayout(card);
  cardColumn->setContentsMargins(14, 14, 14, 14);
  cardColumn->setSpacing(10);
  auto* warnRow = new QHBoxLayout();
  warnRow->setSpacing(6);
  auto* warnIcon = SymbolView::forFont(QStringLiteral("exclamationmark.circle.fill"), 12, Theme::role(&Theme::Roles::warningSymbol), card);
  warnRow->addWidget(warnIcon, 0, Qt::AlignVCenter);
  auto* warnTitle = new Label(QString(), 12.5, QFont::DemiBold, TextRole::primary, card);
  warnTitle->setObjectName(QStringLiteral("onboardingWarnTitle"));
  warnTitle->setWordWrap(true);
  warnRow->addWidget(warnTitle, 1);
  cardColumn->addLayout(warnRow);
  QList<Label*> steps;
  for (int i = 1; i <= 2; ++i) {
    auto* row = new QHBoxLayout();
    row->setContentsMargins(18, 0, 0, 0);
    row->setSpacing(8);
    auto* number = new Label(QStringLiteral("%1.").arg(i), 12.5, QFont::DemiBold, TextRole::dim, card);
    number->setFixedWidth(14);
    number->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    row->addWidget(number, 0, Qt::AlignTop);
    auto* text = new Label(QString(), 12.5, QFont::Normal, TextRole::dim, card);
    text->setObjectName(QStringLiteral("onboardingStep%1").arg(i));
    text->setWordWrap(true);
    row->addWidget(text, 1);
    cardColumn->addLayout(row);
    steps << text;
  }
  column->addWidget(card);

  auto* buttonRow = new QHBoxLayout();
  buttonRow->setContentsMargins(0, 2, 0, 0);
  buttonRow->addStretch(1);
  ok_ = new PrimaryButton(QString(), QString(), this);
  ok_->setObjectName(QStringLiteral("onboardingOk"));
  ok_->setLabelFont(13, QFont::DemiBold);
  ok_->setPadding(22, 8);
  ok_->setGlow(true);
  connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
  buttonRow->addWidget(ok_);
  column->addLayout(buttonRow);

  const auto retranslateAll = [this, &s = settings, title, body, warnTitle, steps, tray = home == Home::tray] {
    title->setPlainText(s.text(LocKey::onboardTitle()));
    setWindowTitle(title->fullText());
    body->setPlainText(s.text(tray ? LocKey::onboardBody() : LocKey::onboardBodyNoTray()));
    warnTitle->setPlainText(s.text(tray ? LocKey::onboardWarnTitle() : LocKey::onboardWarnTitleNoTray()));
    steps[0]->setPlainText(s.text(tray ? LocKey::onboardStep1() : LocKey::onboardStep1NoTray()));
    steps[1]->setPlainText(s.text(tray ? LocKey::onboardStep2() : LocKey::onboardStep2NoTray()));
    ok_->setLabel(s.text(LocKey::onboardOK()));
  };
  retranslateAll();
  whenLookChanges(this, retranslateAll);

  setFixedWidth(460);
  setFixedHeight(column->heightForWidth(460) > 0 ? column->heightForWidth(460) : sizeHint().height());
}

void OnboardingWindow::run() {
  // Centred on the screen.
  if (QWidget* w = window(); w && !parentWidget()) {
    if (const QScreen* screen = w->screen()) move(screen->availableGeometry().center() - rect().center());
  }
  {
    ModalRun paused(pause_);
    exec();
  }
  close();
}

void OnboardingWindow::paintEvent(QPaintEvent*) { paintSheetBackground(this); }

void OnboardingWindow::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) WindowManagerHints::keepWithItsWindow(this);
  QDialog::showEvent(event);
  // "Got it" has the keyboard, its ring shown once the window is activated.
  if (!event->spontaneous()) focusWithRing(ok_);
}

void OnboardingWindow::keyPressEvent(QKeyEvent* event) {
  // "Got it" is the default action.
  if (isPressKey(event)) {
    event->accept();
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void OnboardingWindow::closeEvent(QCloseEvent* event) {
  // Closed by the window manager: ends the modal run like "Got it".
  event->accept();
  if (result() != QDialog::Accepted) QDialog::accept();
}

}  // namespace tlr
