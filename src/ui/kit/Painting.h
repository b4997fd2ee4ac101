#pragma once

// Small drawing helpers shared by the painted widgets.
//
//   Painting::blurred(image, radius)       a soft copy (a Gaussian of that
//                                          radius, done once, never per frame)
//   Painting::softShape(path, brush, r)    the path filled and blurred into an
//                                          image with room for the blur: glows
//                                          and shadows, pre-rendered
//   Painting::continuousRoundRect(r, rad)  the rounded-rectangle outline the
//                                          cards, buttons and sheets use
//   Painting::pulseLoop(target, ms)        a `pulse` property swinging
//                                          0 → 1 → 0 forever
//   Painting::mix(a, b, t)                 a blend of two colours (hovers)
//   Painting::DrawnOnce<T>                 images drawn once per key for the
//                                          process, on any thread

#include <QBrush>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QPainterPath>
#include <QRectF>

#include <memory>
#include <mutex>

class QObject;
class QSequentialAnimationGroup;

namespace tlr::Painting {

// A Gaussian-like blur (three box passes) of an ARGB32 premultiplied image.
// `radius` is in logical pixels; the image's device pixel ratio is honoured.
QImage blurred(const QImage& image, qreal radius);

// An image of `path` filled with `brush` (a colour, or a gradient in the
// path's coordinates) and blurred by `radius`, with a margin of 2 × radius
// around the path's bounds. `origin` (when given) receives where the image's
// top-left corner lies in the path's coordinates.
QImage softShape(const QPainterPath& path, const QBrush& brush, qreal radius, qreal devicePixelRatio,
                 QPointF* origin);

QPainterPath continuousRoundRect(const QRectF& rect, qreal radius);

// A group (a child of `target`, stopped) looping forever over two animations
// of the target's qreal property `pulse`: 0 → 1, then 1 → 0, each
// `halfCycleMs` long and eased in and out.
QSequentialAnimationGroup* pulseLoop(QObject* target, int halfCycleMs);

// Linear blend of two colours (t = 0 gives a, 1 gives b), alpha included.
QColor mix(const QColor& a, const QColor& b, qreal t);
inline qreal mix(qreal a, qreal b, qreal t) { return a + (b - a) * t; }

// What is drawn once per key for the whole process, by whichever thread asks
// first; a thread asking for the same key meanwhile waits for it, one asking
// for another key does not. So a window's pictures can be drawn off the
// window thread ahead of its first paint, which then finds them ready. Past
// `limit` keys (a resize storm) it starts over.
template <class T>
class DrawnOnce {
 public:
  explicit DrawnOnce(qsizetype limit = 256) : limit_(limit) {}

  template <class Draw>
  T get(const QString& key, Draw draw) {
    std::shared_ptr<Slot> slot;
    {
      const QMutexLocker lock(&mutex_);
      auto found = slots_.find(key);
      if (found == slots_.end()) {
        if (slots_.size() >= limit_) slots_.clear();
        found = slots_.insert(key, std::make_shared<Slot>());
      }
      slot = *found;
    }
    // Drawn outside the table's lock.
    std::call_once(slot->once, [&] { slot->value = draw(); });
    return slot->value;
  }

 private:
  struct Slot {
    std::once_flag once;
    T value;
  };
  qsizetype limit_;
  QMutex mutex_;
  QHash<QString, std::shared_ptr<Slot>> slots_;
};

}  // namespace tlr::Painting
