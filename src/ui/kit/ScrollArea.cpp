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

void ScrollArea::setKeyboardScrolling(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus); }

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
  ringShown_ = focusShowsRing(event, ringShown_);
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

void ScrollArea::keyPressEvent(QKeyEvent* event) {
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
