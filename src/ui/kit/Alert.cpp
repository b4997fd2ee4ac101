#include "ui/kit/Alert.h"

#include "core/stores/SettingsStore.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/LineBreaks.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/Theme.h"
#include "ui/kit/WindowManagerHints.h"

#include <QAccessibleWidget>
#include <QScreen>
#include <QTimer>

#include <QBoxLayout>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QtMath>

namespace tlr {
namespace {

constexpr int kPadding = 20;
constexpr qreal kSymbol = 28;
constexpr int kSymbolGap = 14;
// A span that cannot be broken may widen the alert up to this.
constexpr int kWidestSpan = 720;
constexpr qreal kTitlePixels = 13.5;
constexpr qreal kMessagePixels = 12;

// To assistive tools an alert is an alert, not a plain dialog.
class AlertAccessible final : public QAccessibleWidget {
 public:
  explicit AlertAccessible(QWidget* alert) : QAccessibleWidget(alert, QAccessible::AlertMessage) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return static_cast<const Alert*>(widget())->title();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* alertAccessible(const QString& className, QObject* object) {
  if (className == QLatin1String("tlr::Alert") && object && object->isWidgetType())
    return new AlertAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

}  // namespace

Alert::Alert(const QString& title, const QString& message, QWidget* parent, const QStringList& keepTogether)
    // No frame of the window manager's: drawn like a sheet, it cannot be
    // minimised, maximised or moved apart from the window it asks over.
    : QDialog(parent ? parent->window() : nullptr, Qt::Dialog | Qt::FramelessWindowHint),
      title_(title),
      message_(message),
      keepTogether_(keepTogether) {
  static const bool accessible = [] {
    QAccessible::installFactory(alertAccessible);
    return true;
  }();
  static_cast<void>(accessible);
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  // Its window shown again (from the tray, after a minimise): the alert
  // comes back over it with the keyboard.
  if (parentWidget()) parentWidget()->window()->installEventFilter(this);
  setWindowTitle(title);
  setSizeGripEnabled(false);
  whenLookChanges(this);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(kPadding, kPadding, kPadding, kPadding - 2);
  row->setSpacing(kSymbolGap);
  auto* symbol = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), kSymbol, TextRole::primary, this);
  symbol->setColor(Theme::role(&Theme::Roles::warningSymbol));
  row->addWidget(symbol, 0, Qt::AlignTop);

  auto* column = new QVBoxLayout;
  column_ = column;
  column->setSpacing(6);
  titleLabel_ = new Label(title, kTitlePixels, QFont::DemiBold, TextRole::primary, this);
  titleLabel_->setObjectName(QStringLiteral("alertTitle"));
  titleLabel_->setWordWrap(true);
  column->addWidget(titleLabel_);
  // Commands marked in the text (`…`) are shown without the marks, whole.
  QStringList commands;
  const QString shown = LineBreaks::withoutCommandMarks(message, &commands);
  keepTogether_ += commands;
  messageLabel_ = new Label(LineBreaks::keepTogether(shown, keepTogether), kMessagePixels, QFont::Normal, TextRole::dim, this);
  messageLabel_->setObjectName(QStringLiteral("alertMessage"));
  messageLabel_->setWordWrap(true);
  messageLabel_->setAccessibleName(LineBreaks::withoutCommandMarks(message).remove(QChar(0x2060)).replace(QChar(0x00A0), QLatin1Char(' ')));
  messageLabel_->setVisible(!message.isEmpty());
  column->addWidget(messageLabel_);
  column->addSpacing(10);
  buttons_ = new QHBoxLayout;
  buttons_->setSpacing(8);
  buttons_->addStretch(1);
  column->addLayout(buttons_);
  row->addLayout(column, 1);
}

PaintedButton* Alert::addButton(const QString& label, Role role, const QString& objectName) {
  PaintedButton* button = nullptr;
  switch (role) {
    case Role::cancel: {
      auto* plain = new SecondaryButton(label, QString(), Theme::current().textDim, this);
      whenLookChanges(plain, [plain] { plain->setColor(Theme::current().textDim); });
      button = plain;
      if (!cancel_) cancel_ = button;
      if (!default_) default_ = button;
      break;
    }
    case Role::confirm:
      button = new PrimaryButton(label, QString(), this);
      break;
    case Role::destructive: {
      auto* red = new PrimaryButton(label, QString(), this);
      red->setFill(Theme::destructiveFill);
      button = red;
      break;
    }
  }
  button->setObjectName(objectName);
  button->setFocusPolicy(Qt::StrongFocus);
  connect(button, &QAbstractButton::clicked, this, [this, button] { answer(button); });
  buttons_->addWidget(button);
  return button;
}

QLineEdit* Alert::addCopyableText(const QString& text, const QString& objectName) {
  copyable_ = new QLineEdit(text, this);
  copyable_->setObjectName(objectName);
  copyable_->setReadOnly(true);
  copyable_->setAccessibleName(text);
  copyable_->setCursorPosition(0);
  copyable_->setFixedHeight(26);
  lookLikeAField(copyable_, kMessagePixels, 6);
  // Under the message, above the buttons' gap.
  column_->insertWidget(column_->indexOf(messageLabel_) + 1, copyable_);
  return copyable_;
}

Alert* Alert::presentOpenFailed(const SettingsStore& settings, const QString& target, const LocKey& reason,
                                bool folder, QWidget* parent) {
  auto* alert = new Alert(settings.text(folder ? LocKey::alertOpenFolderFailTitle() : LocKey::alertOpenLinkFailTitle()),
                          settings.text(LocKey::alertOpenFailBody(settings.text(reason))), parent);
  alert->setObjectName(QStringLiteral("openFailedAlert"));
  alert->addCopyableText(target, QStringLiteral("openFailedTarget"));
  alert->setDefaultButton(
      alert->addButton(settings.text(LocKey::alertGotIt()), Alert::Role::confirm, QStringLiteral("alertGotIt")));
  alert->present();
  return alert;
}

void Alert::present() {
  fitToText();
  if (QWidget* over = parentWidget()) {
    const QRect area = over->window()->geometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  } else if (const QScreen* on = screen()) {
    move(on->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  open();
  takeTheKeyboard();
}

void Alert::takeTheKeyboard() {
  raise();
  activateWindow();
  // The button the keyboard was on, else the default one, with its ring:
  // the window manager activates the alert after this, and the ring must
  // show however the focus arrives.
  QWidget* on = focusWidget() && isAncestorOf(focusWidget()) ? focusWidget() : default_.data();
  focusWithRing(on);
}

void Alert::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) WindowManagerHints::keepWithItsWindow(this);
  QDialog::showEvent(event);
}

bool Alert::eventFilter(QObject* watched, QEvent* event) {
  const bool back = event->type() == QEvent::WindowActivate || event->type() == QEvent::Show ||
                    event->type() == QEvent::WindowStateChange;
  if (back && watched == parentWidget()->window() && isVisible() && !answered_) {
    // Once the window manager has finished with the window.
    QTimer::singleShot(0, this, [this] {
      if (isVisible() && !answered_ && !isActiveWindow()) takeTheKeyboard();
    });
  }
  return QDialog::eventFilter(watched, event);
}

void Alert::fitToText() {
  const QFontMetricsF titleMetrics(Theme::font(kTitlePixels, QFont::DemiBold));
  const QFontMetricsF messageMetrics(Theme::font(kMessagePixels));
  const int chrome = 2 * kPadding + qCeil(kSymbol) + kSymbolGap;
  qreal natural = titleMetrics.horizontalAdvance(title_);
  for (const QString& line : message_.split(QLatin1Char('\n')))
    natural = std::max(natural, messageMetrics.horizontalAdvance(line));
  qreal widestSpan = 0;
  for (const QString& span : keepTogether_) widestSpan = std::max(widestSpan, messageMetrics.horizontalAdvance(span));
  int buttonsWidth = 0;
  for (int i = 0; i < buttons_->count(); ++i)
    if (QWidget* w = buttons_->itemAt(i)->widget()) buttonsWidth += w->sizeHint().width() + buttons_->spacing();
  int width = std::clamp(qCeil(natural) + chrome + 2, kMinWidth, kMaxWidth);
  width = std::max({width, std::min(qCeil(widestSpan) + chrome + 2, kWidestSpan), buttonsWidth + chrome});
  setFixedWidth(width);
  layout()->activate();
  setFixedHeight(layout()->totalHeightForWidth(width));
}

void Alert::answer(QAbstractButton* button) {
  if (answered_) return;
  answered_ = true;
  const QPointer<Alert> self(this);
  Q_EMIT answered(button);
  if (!self) return;
  done(button && button == cancel_ ? QDialog::Rejected : QDialog::Accepted);
  if (!self) return;
  // Nameless from now on, so nothing finds an answered alert; deleted once
  // its own events are over.
  setObjectName(QString());
  deleteLater();
}

void Alert::paintEvent(QPaintEvent*) { paintSheetBackground(this); }

void Alert::keyPressEvent(QKeyEvent* event) {
  if (isPressKey(event)) {
    event->accept();
    // The focused button is pressed, else the default one.
    auto* focused = qobject_cast<PaintedButton*>(focusWidget());
    if (PaintedButton* target = focused ? focused : default_.data()) target->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void Alert::closeEvent(QCloseEvent* event) {
  if (!answered_) {
    event->ignore();
    answer(cancel_);
    return;
  }
  QDialog::closeEvent(event);
}

void Alert::reject() {
  if (!answered_) {
    answer(cancel_);
    return;
  }
  QDialog::reject();
}

}  // namespace tlr
