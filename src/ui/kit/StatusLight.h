#pragma once

// The status light: the round lamp at the start of each agent row. Green
// while the agent works, grey while idle, amber while it recovers; a glow
// breathes around a lamp that is not idle.
//
//   auto* light = new StatusLight(LightState::working, 13, parent);
//   light->setState(LightState::idle);
//   StatusLight::paintLight(painter, centre, state, diameter, pulse)  // in
//                                   another widget's paintEvent, same look
//
// The widget is larger than the lamp: `glowMargin()` pixels on each side hold
// the glow, and the lamp is centred; it lets the mouse through. Every light
// breathes on one clock of this file, only while it is on screen and
// not idle (it starts when the light comes on screen; a light that came on
// screen idle and later works shows its glow at rest until it is shown
// again). The glows are pre-rendered once per colour, size and pixel ratio; a
// frame only composes two images.

#include <QColor>
#include <QWidget>

#include <array>

class QPainter;

namespace tlr {

enum class LightState { working, idle, recovering };

class StatusLight final : public QWidget {
  Q_OBJECT

 public:
  // One half of the breath (rest → full or back), eased in and out.
  static constexpr int kHalfCycleMs = 2500;
  // Glow at rest (pulse 0) and at full breath (pulse 1).
  static constexpr qreal kRestBlur = 5, kFullBlur = 8;
  static constexpr qreal kRestOpacity = 0.55, kFullOpacity = 0.75;

  StatusLight(LightState state, qreal diameter, QWidget* parent = nullptr);
  ~StatusLight() override;

  LightState state() const { return state_; }
  void setState(LightState state);
  qreal diameter() const { return diameter_; }
  bool isBreathing() const { return breathing_; }

  static qreal glowMargin() { return 10; }
  // Whether the clock the lights breathe on ticks: only while some light on
  // screen breathes.
  static bool breathClockRuns();
  QSize sizeHint() const override;

  // The three gradient stops of a state's lamp and its glow colour (invalid
  // for idle, which has none).
  // In the light scheme the idle lamp is a lighter grey (the dark one reads
  // as black on a white card), and the working and recovering lamps darker
  // shades of their hues, 3:1 on the cards and the background.
  static std::array<QColor, 3> lampStops(LightState state, bool darkScheme = true);
  static QColor glowColor(LightState state);
  // The highlight's opacity: 0.1 when idle, 0.7 otherwise.
  static qreal highlightOpacity(LightState state);

  // Paints the lamp, its highlight and (unless idle) the glow at `pulse`,
  // centred on `centre`. The glow reaches glowMargin() beyond the lamp.
  static void paintLight(QPainter& painter, QPointF centre, LightState state, qreal diameter, qreal pulse);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void setBreathing(bool on);

  LightState state_;
  qreal diameter_;
  bool breathing_ = false;
};

}  // namespace tlr
