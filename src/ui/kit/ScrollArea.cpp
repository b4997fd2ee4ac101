#include "ui/kit/ScrollArea.h"

#include "ui/kit/ControlBasics.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace tlr {
namespace {

// Room kept above and below a control scrolled into view (its focus ring
// and a little of what is around it).
constexpr int kRoomAroundFocus = 12;
// The ring of a list that takes the focus itself lies in this much room
// around its view.
constexpr int kRingRoom = 3;

// The ring of a focused scroll area, drawn over its view and content.
class FocusRingOverlay final : public QWidget {
 public:
  explicit FocusRingOverlay(ScrollArea* area) : QWidget(area), area_(area) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (area_->showsFocus()) paintFocusRing(p, QRectF(rect()), 6);
  }

 private:
  ScrollArea* area_;
};

}  // namespace

ScrollArea::ScrollArea(QWidget* content, QWidget* parent) : QScrollArea(parent), ring_(new FocusRingOverlay(this)) {
  setFocusPolicy(Qt::NoFocus);
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setAutoFillBackground(false);
  viewport()->setAutoFillBackground(false);
  setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
  // As wide as the view whatever its content asks for: what does not fit is
  // shortened by the content's own layout, never scrolled to.
  content->setSizePolicy(QSizePolicy::Ignored, content->sizePolicy().verticalPolicy());
  content->setAutoFillBackground(false);
  setWidget(content);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });
}

void ScrollArea::setKeyboardScrolling(bool on) {
  setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
  // Room for the ring around the view, so it never covers what is in it.
  const int ring = on ? kRingRoom : 0;
  setViewportMargins(ring, ring, ring, ring);
}

bool ScrollArea::showsFocus() const { return hasFocus() && ringShown_; }

void ScrollArea::focusMoved(QWidget* now) {
  if (!now || !widget() || !widget()->isAncestorOf(now)) return;
  ensureWidgetVisible(now, 0, kRoomAroundFocus);
  // Again once a layout the same change started (rows put in a new order)
  // has placed it.
  QMetaObject::invokeMethod(
      this,
      [this, control = QPointer<QWidget>(now)] {
        if (control && control->hasFocus()) ensureWidgetVisible(control, 0, kRoomAroundFocus);
      },
      Qt::QueuedConnection);
}

void ScrollArea::focusInEvent(QFocusEvent* event) {
  ringShown_ = focusShowsRing(this, event, ringShown_);
  ring_->setGeometry(rect());
  ring_->raise();
  ring_->setVisible(ringShown_);
  ring_->update();
  QScrollArea::focusInEvent(event);
}

void ScrollArea::focusOutEvent(QFocusEvent* event) {
  ring_->hide();
  QScrollArea::focusOutEvent(event);
}

bool ScrollArea::moveFocusFor(const QKeyEvent* event) {
  if (event->modifiers() != Qt::NoModifier || !widget()) return false;
  const int key = event->key();
  if (key != Qt::Key_Home && key != Qt::Key_End && key != Qt::Key_PageUp && key != Qt::Key_PageDown &&
      key != Qt::Key_Up && key != Qt::Key_Down)
    return false;
  QWidget* focus = QApplication::focusWidget();
  if (!focus || focus == this || !widget()->isAncestorOf(focus)) return false;
  // The controls of the list, in the order Tab reaches them.
  QList<QWidget*> controls;
  for (QWidget* w = widget()->nextInFocusChain(); w && w != widget(); w = w->nextInFocusChain()) {
    if (controls.contains(w)) break;
    if (widget()->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(widget()) && w->isEnabled())
      controls << w;
  }
  const qsizetype at = controls.indexOf(focus);
  if (controls.isEmpty() || at < 0) return false;
  const auto top = [this](QWidget* w) { return w->mapTo(widget(), QPoint()).y(); };
  const int page = viewport()->height();
  QWidget* target = focus;
  switch (key) {
    case Qt::Key_Home: target = controls.first(); break;
    case Qt::Key_End: target = controls.last(); break;
    case Qt::Key_Up: target = controls.value(at - 1, focus); break;
    case Qt::Key_Down: target = controls.value(at + 1, focus); break;
    case Qt::Key_PageDown:
      target = controls.last();
      for (qsizetype i = at + 1; i < controls.size(); ++i)
        if (top(controls[i]) >= top(focus) + page) {
          target = controls[i - 1] == focus ? controls[i] : controls[i - 1];
          break;
        }
      break;
    case Qt::Key_PageUp:
      target = controls.first();
      for (qsizetype i = at - 1; i >= 0; --i)
        if (top(controls[i]) <= top(focus) - page) {
          target = controls[i + 1] == focus ? controls[i] : controls[i + 1];
          break;
        }
      break;
    default: break;
  }
  if (target != focus) focusWithRing(target);
  return true;
}

void ScrollArea::keyPressEvent(QKeyEvent* event) {
  // On a control of the list the keys that scroll move the focus instead,
  // and the view follows it: the control never scrolls out of sight.
  if (moveFocusFor(event)) {
    event->accept();
    return;
  }
  QScrollBar* bar = verticalScrollBar();
  if (event->modifiers() == Qt::NoModifier && (event->key() == Qt::Key_Home || event->key() == Qt::Key_End)) {
    bar->setValue(event->key() == Qt::Key_Home ? bar->minimum() : bar->maximum());
    event->accept();
    return;
  }
  QScrollArea::keyPressEvent(event);
}

void ScrollArea::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  ring_->setGeometry(rect());
}

}  // namespace tlr
