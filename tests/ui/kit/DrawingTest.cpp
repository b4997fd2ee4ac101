// Drawing tests: the shield outline, the tray image, the lamps, the emblem.
#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/ShieldHero.h"
#include "ui/kit/StatusLight.h"
#include "ui/kit/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>

#include <gtest/gtest.h>

using namespace tlr;

namespace {

std::vector<QPointF> elementPoints(const QPainterPath& path) {
  std::vector<QPointF> points;
  for (int i = 0; i < path.elementCount(); ++i) points.emplace_back(path.elementAt(i).x, path.elementAt(i).y);
  return points;
}

// Move, curve (3), line, curve (3), curve (3), line, curve (3): the grid of
// the outline in drawing order.
const std::vector<QPointF> kGrid{{50, 4},  {28, 4},  {14, 8},   {8, 14},  {8, 56},  {8, 82},
                                 {26, 100}, {50, 108}, {74, 100}, {92, 82}, {92, 56}, {92, 14},
                                 {86, 8},  {72, 4},  {50, 4}};

void expectPoints(const QPainterPath& path, qreal sx, qreal sy, QPointF offset = {}) {
  const auto points = elementPoints(path);
  ASSERT_GE(points.size(), kGrid.size());
  for (size_t i = 0; i < kGrid.size(); ++i) {
    EXPECT_NEAR(points[i].x(), offset.x() + kGrid[i].x() * sx, 1e-9) << "point " << i;
    EXPECT_NEAR(points[i].y(), offset.y() + kGrid[i].y() * sy, 1e-9) << "point " << i;
  }
}

QImage render(QWidget& widget) {
  QImage img(widget.size(), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  widget.render(&img, {}, {}, QWidget::DrawChildren);
  return img;
}

int opaquePixels(const QImage& img) {
  int count = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) count += qAlpha(img.pixel(x, y)) > 0;
  return count;
}

// Three box passes along rows, then columns, computed pixel by pixel: what
// Painting::blurred must give bit for bit.
QImage plainBoxBlur(QImage img, int r) {
  const int w = img.width(), h = img.height(), window = 2 * r + 1;
  for (int pass = 0; pass < 6; ++pass) {
    const QImage before = img;
    const bool alongRows = pass % 2 == 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int sum[4] = {0, 0, 0, 0};
        for (int d = -r; d <= r; ++d) {
          const int sx = alongRows ? x + d : x, sy = alongRows ? y : y + d;
          if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
          const QRgb v = before.pixel(sx, sy);
          sum[0] += qAlpha(v), sum[1] += qRed(v), sum[2] += qGreen(v), sum[3] += qBlue(v);
        }
        img.setPixel(x, y, qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window));
      }
  }
  return img;
}

}  // namespace

TEST(ShieldOutline, ReproducesTheGridInA100By110RectAndHalvesInHalfTheSize) {
  expectPoints(shieldPath(QRectF(0, 0, 100, 110)), 1, 1);
  expectPoints(shieldPath(QRectF(0, 0, 50, 55)), 0.5, 0.5);
  expectPoints(shieldPath(QRectF(10, 20, 100, 110)), 1, 1, {10, 20});
}

TEST(ShieldOutline, TrayImageStartsAndEndsWhereTheStatusItemDrawsIt) {
  // In the status image (y downward) the path starts 0.6909 from the top
  // (18.3091 from the bottom) and its tip is 0.3455 above the bottom edge.
  const QPainterPath path = shieldPath(QRectF(QPointF(0, 0), kShieldImageSize));
  const auto points = elementPoints(path);
  EXPECT_NEAR(points[0].x(), 9.0, 1e-9);
  EXPECT_NEAR(19 - points[0].y(), 18.3091, 1e-4);
  EXPECT_NEAR(19 - points[7].y(), 0.3455, 1e-4);
}

TEST(StatusImage, IsEighteenByNineteenWithTransparentCornersGradientAndWhiteLetter) {
  const QImage img = makeShieldImage(1.0);
  ASSERT_EQ(img.size(), QSize(18, 19));
  for (QPoint corner : {QPoint(0, 0), QPoint(17, 0), QPoint(0, 18), QPoint(17, 18)})
    EXPECT_EQ(qAlpha(img.pixel(corner)), 0) << corner.x() << "," << corner.y();
  // Inside, away from the letter: the gradient runs from #3B82F6 at the top
  // left to #06B6D4 at the bottom right.
  const QColor topLeft = img.pixelColor(3, 4);
  const QColor bottomRight = img.pixelColor(12, 14);
  EXPECT_EQ(topLeft.alpha(), 255);
  EXPECT_EQ(bottomRight.alpha(), 255);
  EXPECT_GT(topLeft.red(), bottomRight.red());
  EXPECT_LT(topLeft.green(), bottomRight.green());
  EXPECT_NEAR(topLeft.blue(), 240, 15);
  // The white letter: the crossbar row near the top centre has white pixels.
  int white = 0;
  for (int y = 3; y < 16; ++y)
    for (int x = 5; x < 13; ++x) {
      const QColor c = img.pixelColor(x, y);
      white += c.red() > 235 && c.green() > 235 && c.blue() > 235;
    }
  EXPECT_GE(white, 6);
  // A 2x image has twice the pixels, same logical size.
  const QImage twice = makeShieldImage(2.0);
  EXPECT_EQ(twice.size(), QSize(36, 38));
  EXPECT_EQ(twice.deviceIndependentSize(), QSizeF(18, 19));
}

TEST(StatusLightColours, EachStateHasItsStopsAndGlow) {
  EXPECT_EQ(StatusLight::lampStops(LightState::working)[0], QColor(0xBB, 0xF7, 0xD0));
  EXPECT_EQ(StatusLight::lampStops(LightState::working)[1], QColor(0x4A, 0xDE, 0x80));
  EXPECT_EQ(StatusLight::lampStops(LightState::working)[2], QColor(0x15, 0x80, 0x3D));
  EXPECT_EQ(StatusLight::lampStops(LightState::idle)[0], QColor(0x6B, 0x72, 0x80));
  EXPECT_EQ(StatusLight::lampStops(LightState::idle)[2], QColor(0x1F, 0x29, 0x37));
  // A stopped agent's lamp: the same greys in the light scheme, whose
  // lightest stop still stands apart from the white card at 3:1.
  EXPECT_EQ(StatusLight::lampStops(LightState::idle, false), StatusLight::lampStops(LightState::idle, true));
  EXPECT_EQ(StatusLight::lampStops(LightState::idle, false)[1], QColor(0x37, 0x41, 0x51));
  EXPECT_GE(Theme::contrastRatio(StatusLight::lampStops(LightState::idle, false)[0], Theme::cardLight), 3.0);
  // The light scheme's working and recovering lamps: darker, the same hues.
  for (const LightState state : {LightState::working, LightState::recovering})
    EXPECT_NEAR(StatusLight::lampStops(state, false)[1].hslHueF(), StatusLight::lampStops(state)[1].hslHueF(), 0.01);
  EXPECT_EQ(StatusLight::lampStops(LightState::recovering)[1], QColor(0xFB, 0xBF, 0x24));
  EXPECT_EQ(StatusLight::lampStops(LightState::recovering)[2], QColor(0xB4, 0x53, 0x09));
  EXPECT_EQ(StatusLight::glowColor(LightState::working), QColor(0x4A, 0xDE, 0x80));
  EXPECT_EQ(StatusLight::glowColor(LightState::recovering), QColor(0xFB, 0xBF, 0x24));
  EXPECT_FALSE(StatusLight::glowColor(LightState::idle).isValid());
  EXPECT_DOUBLE_EQ(StatusLight::highlightOpacity(LightState::idle), 0.1);
  EXPECT_DOUBLE_EQ(StatusLight::highlightOpacity(LightState::working), 0.7);
}

TEST(StatusLightDrawing, IdleHasNoGlowWorkingGlowsBeyondTheLamp) {
  StatusLight idle(LightState::idle, 12);
  StatusLight working(LightState::working, 12);
  const QImage idleImg = render(idle);
  const QImage workingImg = render(working);
  const QPoint centre(idleImg.width() / 2, idleImg.height() / 2);
  // 2 px outside the lamp's edge: empty when idle, green glow when working.
  const QPoint outside = centre + QPoint(6 + 2, 0);
  EXPECT_EQ(qAlpha(idleImg.pixel(outside)), 0);
  EXPECT_GT(qAlpha(workingImg.pixel(outside)), 10);
  const QColor glow = workingImg.pixelColor(outside);
  EXPECT_GT(glow.green(), glow.red());
  // Idle draws only the lamp: nothing beyond its circle.
  EXPECT_LE(opaquePixels(idleImg), 12 * 12 + 12);
  EXPECT_GT(opaquePixels(workingImg), opaquePixels(idleImg) * 2);
}

TEST(StatusLightDrawing, TheHighlightSitsUpAndLeftOfTheCentre) {
  StatusLight light(LightState::working, 40);
  QImage img(light.size(), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  StatusLight::paintLight(p, QPointF(img.width() / 2.0, img.height() / 2.0), LightState::idle, 40, 0);
  p.end();
  // Idle (no glow over it): the brightest pixel is the highlight, 0.18 d up
  // and left of the centre.
  QPoint brightest;
  int best = -1;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const int v = qGray(img.pixel(x, y));
      if (qAlpha(img.pixel(x, y)) == 255 && v > best) best = v, brightest = {x, y};
    }
  const QPointF expected(img.width() / 2.0 - 0.18 * 40, img.height() / 2.0 - 0.18 * 40);
  EXPECT_NEAR(brightest.x() + 0.5, expected.x(), 3.0);
  EXPECT_NEAR(brightest.y() + 0.5, expected.y(), 3.0);
}

TEST(StatusLightAnimation, BreathesOnOneClockOnlyWhenShownAndNotIdle) {
  StatusLight working(LightState::working, 10);
  EXPECT_FALSE(working.isBreathing()) << "not on screen yet";
  EXPECT_FALSE(StatusLight::breathClockRuns());
  working.show();
  EXPECT_TRUE(working.isBreathing());
  EXPECT_TRUE(StatusLight::breathClockRuns());
  working.hide();
  EXPECT_FALSE(working.isBreathing()) << "no animation while hidden";
  EXPECT_FALSE(StatusLight::breathClockRuns());
  working.show();
  EXPECT_TRUE(working.isBreathing());
  working.setState(LightState::idle);
  EXPECT_FALSE(working.isBreathing());

  StatusLight idle(LightState::idle, 10);
  idle.show();
  EXPECT_FALSE(idle.isBreathing()) << "an idle light starts no animation";
  idle.setState(LightState::recovering);
  EXPECT_FALSE(idle.isBreathing()) << "it glows at rest until shown again";
  EXPECT_FALSE(StatusLight::breathClockRuns());
  {
    StatusLight other(LightState::working, 10);
    other.show();
    EXPECT_TRUE(StatusLight::breathClockRuns());
  }
  EXPECT_FALSE(StatusLight::breathClockRuns()) << "a light's end leaves the clock";
}

TEST(ShieldHeroAnimation, HaloPulsesOverSevenSecondsOnlyOnScreen) {
  ShieldHero hero(44);
  QSequentialAnimationGroup* group = hero.pulseAnimation();
  EXPECT_EQ(group->loopCount(), -1);
  ASSERT_EQ(group->animationCount(), 2);
  EXPECT_EQ(group->animationAt(0)->duration() + group->animationAt(1)->duration(), 7000);
  hero.setPulse(0);
  EXPECT_DOUBLE_EQ(hero.pulseScale(), 0.94);
  EXPECT_DOUBLE_EQ(hero.pulseOpacity(), 0.45);
  hero.setPulse(1);
  EXPECT_DOUBLE_EQ(hero.pulseScale(), 1.08);
  EXPECT_DOUBLE_EQ(hero.pulseOpacity(), 0.8);
  EXPECT_FALSE(hero.isPulsing());
  hero.show();
  EXPECT_TRUE(hero.isPulsing());
  hero.hide();
  EXPECT_FALSE(hero.isPulsing());
  // The shield layer is 44 × 48.4 and the halo (61.6 at rest scale 1) fits.
  EXPECT_DOUBLE_EQ(hero.shieldRect().width(), 44);
  EXPECT_DOUBLE_EQ(hero.shieldRect().height(), 44 * 1.1);
  EXPECT_GE(hero.width(), 61.6 * 1.08);
}

TEST(ShieldHeroDrawing, BrandColoursFollowTheScheme) {
  ShieldHero hero(44);
  const QRectF shield = hero.shieldRect();
  // Just inside the left edge, below the gloss: close to the start colour.
  const QPoint probe(qRound(shield.left() + 0.12 * shield.width()), qRound(shield.top() + 0.6 * shield.height()));
  const QColor dark = hero.renderShieldLayer(ColorScheme::dark, 1).pixelColor(probe);
  const QColor light = hero.renderShieldLayer(ColorScheme::light, 1).pixelColor(probe);
  // #60A5FA (dark) is lighter than #3B82F6 (light) in every channel.
  EXPECT_GT(dark.red(), light.red());
  EXPECT_GT(dark.green(), light.green());
  EXPECT_NEAR(dark.blue(), 248, 12);
  EXPECT_NEAR(light.blue(), 240, 12);
  // What a hero paints is drawn once for the process (its own scheme off the
  // window thread as it is made): each size, scheme and pixel ratio gets the
  // pixels drawn for it.
  ShieldHero large(60);
  for (const ShieldHero* h : {&hero, &large})
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark})
      for (const qreal dpr : {1.0, 2.0})
        EXPECT_EQ(h->renderShieldLayer(scheme, dpr), ShieldHero::drawShieldLayer(h->shieldRect().width(), scheme, dpr))
            << h->shieldRect().width() << (scheme == ColorScheme::dark ? " dark @" : " light @") << dpr;
}

TEST(SoftShapes, BlurGivesTheBoxPassesPixelForPixel) {
  // Noise with its premultiplied channels at their limits, a shape against
  // the edges and one narrower than the box, at pixel ratios 1 and 2.
  QImage noise(37, 23, QImage::Format_ARGB32_Premultiplied);
  quint32 seed = 12345;
  for (int y = 0; y < noise.height(); ++y)
    for (int x = 0; x < noise.width(); ++x) {
      seed = seed * 1664525 + 1013904223;
      const int a = (x + y) % 5 == 0 ? 255 : int(seed >> 24);
      noise.setPixel(x, y, qRgba(int(seed >> 8) % (a + 1), int(seed >> 16) % (a + 1), int(seed) % (a + 1), a));
    }
  QPainterPath edge;
  edge.addRoundedRect(QRectF(-4, -4, 30, 12), 5, 5);
  const struct {
    QImage image;
    qreal radius;
    int box;
  } cases[] = {{noise, 4, 2}, {noise, 12, 6}, {noise, 80, 40}, {noise, 0.5, 0}};
  for (const auto& c : cases) EXPECT_EQ(Painting::blurred(c.image, c.radius), plainBoxBlur(c.image, c.box)) << c.radius;
  for (const qreal dpr : {1.0, 2.0}) {
    QPointF origin;
    const QImage sharp = Painting::softShape(edge, QColor(59, 130, 246, 107), 0, dpr, &origin);
    const QImage soft = Painting::softShape(edge, QColor(59, 130, 246, 107), 10, dpr, &origin);
    EXPECT_EQ(soft.size(), sharp.size() + QSize(40, 40) * dpr);
    QImage framed(soft.size(), QImage::Format_ARGB32_Premultiplied);
    framed.fill(Qt::transparent);
    framed.setDevicePixelRatio(dpr);
    QPainter(&framed).drawImage(QPointF(20, 20), sharp);
    EXPECT_EQ(soft, plainBoxBlur(framed, dpr == 1 ? 5 : 10)) << dpr;
  }
}

TEST(Glyphs, EveryNamedSymbolDrawsSomethingAndUnknownNamesNothing) {
  const QStringList names = Glyphs::names();
  for (const char* required : {"xmark", "gearshape", "plus", "checkmark", "book", "envelope",
                               "exclamationmark.triangle.fill", "lock.fill", "info.circle", "trash"})
    EXPECT_TRUE(names.contains(QString::fromLatin1(required))) << required;
  for (const QString& name : names) {
    const QImage img = Glyphs::image(name, Qt::black, 24);
    EXPECT_GT(opaquePixels(img), 20) << name.toStdString();
    EXPECT_LT(opaquePixels(img), 24 * 24) << name.toStdString() << " leaves nothing transparent";
  }
  QImage img(24, 24, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  EXPECT_FALSE(Glyphs::paint(p, u"no.such.symbol", QRectF(0, 0, 24, 24), Qt::black));
  p.end();
  EXPECT_EQ(opaquePixels(img), 0);
  // Drawn in the colour asked for.
  const QImage red = Glyphs::image(u"stop.fill", Qt::red, 24);
  EXPECT_EQ(red.pixelColor(12, 12), QColor(Qt::red));
}
