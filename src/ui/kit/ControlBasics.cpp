#include "ui/kit/ControlBasics.h"

#include "ui/kit/Painting.h"

#include <QApplication>
#include <QFocusEvent>
#include <QVariant>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPainter>

namespace tlr {

QColor roleColor(TextRole role) {
  const Theme::Roles r = Theme::current();
  switch (role) {
    case TextRole::primary:
      return r.text;
    case TextRole::dim:
      return r.textDim;
    case TextRole::faint:
      return r.textFaint;
    case TextRole::accent:
      return r.accentText;
    case TextRole::white:
      return Qt::white;
    case TextRole::failure:
      return r.crashText;
    case TextRole::warning:
      return r.warningText;
    case TextRole::caution:
      return r.cautionText;
    case TextRole::success:
      return r.workingText;
  }
  return r.text;
}

void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius) {
  p.save();
  p.setOpacity(1);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Theme::current().accent, 2));
  p.setBrush(Qt::NoBrush);
  const QRectF ring = rect.adjusted(1, 1, -1, -1);
  p.drawPath(Painting::continuousRoundRect(ring, qMax<qreal>(0, radius - 1)));
  p.restore();
}

namespace {

class Trail final : public QObject {
 public:
  static Trail& shared() {
    static Trail* trail = [] {
      auto* t = new Trail(qApp);
      qApp->installEventFilter(t);
      return t;
    }();
    return *trail;
  }
  bool mouse = false;
  QPointer<QWidget> clicked;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        mouse = true;
        if (auto* widget = qobject_cast<QWidget*>(watched)) {
          clicked = nullptr;
          for (QWidget* w = widget; w && !w->isWindow(); w = w->parentWidget())
            if (w->focusPolicy() & Qt::TabFocus) {
              clicked = w;
              break;
            }
        }
        break;
      case QEvent::KeyPress:
        mouse = false;
        break;
      default:
        break;
    }
    return false;
  }

 private:
  using QObject::QObject;
};

}  // namespace

void InputTrail::watch() { Trail::shared(); }

bool InputTrail::lastWasMouse() { return Trail::shared().mouse; }

QWidget* InputTrail::clicked() {
  QWidget* w = Trail::shared().clicked.data();
  return w && w->isVisible() ? w : nullptr;
}

namespace {
// Set on a control given the focus with its ring before its window was
// active; read (and cleared) by its next focus-in.
constexpr const char* kRingAsked = "tlrRingAsked";
}  // namespace

bool focusShowsRing(QWidget* control, const QFocusEvent* event, bool showing) {
  const bool asked = control->property(kRingAsked).toBool();
  if (asked) control->setProperty(kRingAsked, QVariant());
  switch (event->reason()) {
    case Qt::MouseFocusReason:
      return false;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
      return showing || asked;
    default:
      return true;
  }
}

void focusWithRing(QWidget* control) {
  if (!control) return;
  if (control->hasFocus()) {
    // Focused already, perhaps without its ring: told again.
    QFocusEvent again(QEvent::FocusIn, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(control, &again);
    return;
  }
  // The window may not be active yet: its focus then arrives with the
  // window's activation, which alone would show no ring.
  control->setProperty(kRingAsked, true);
  control->setFocus(Qt::OtherFocusReason);
}

void lookLikeAField(QLineEdit* field, qreal pixels, int padding) {
  const auto look = [field, pixels, padding] {
    const Theme::Roles r = Theme::current();
    field->setFont(Theme::font(pixels));
    // The colours of the text through the palette: a style sheet's colour
    // would leave the placeholder a faded copy of it, under 4.5:1.
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, r.text);
    palette.setColor(QPalette::PlaceholderText, r.textFaint);
    field->setPalette(palette);
    field->setStyleSheet(QStringLiteral("QLineEdit { background: %1; border: 1px solid %2; border-radius: 6px;"
                                        " padding: 0 %4px; selection-background-color: %3; }"
                                        "QLineEdit:focus { border: 1px solid %3; }")
                             .arg(r.card.name(QColor::HexArgb), r.contrast(0.15).name(QColor::HexArgb),
                                  r.accent.name(QColor::HexArgb))
                             .arg(padding));
  };
  look();
  whenLookChanges(field, look);
}

bool isPressKey(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && mods == Qt::NoModifier;
}

KeyboardButton::KeyboardButton(QWidget* parent) : QAbstractButton(parent) { InputTrail::watch(); }

void KeyboardButton::focusInEvent(QFocusEvent* event) {
  ringShown_ = focusShowsRing(this, event, ringShown_);
  QAbstractButton::focusInEvent(event);
}

void KeyboardButton::keyPressEvent(QKeyEvent* event) {
  if (isPressKey(event)) {
    event->accept();
    if (isEnabled()) click();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

}  // namespace tlr
