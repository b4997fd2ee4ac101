#include "ui/shell/VornelAdBannerView.h"

#include "core/stores/SettingsStore.h"
#include "platform/OffMain.h"
#include "service/VornelAppSDK.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Painting.h"

#include <QBuffer>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QtMath>

#include <algorithm>
#include <cstdlib>

namespace tlr {

VornelAdBannerView::VornelAdBannerView(VornelAppSDK& sdk, const SettingsStore& settings, QWidget* parent)
    : QWidget(parent), sdk_(sdk), settings_(settings) {
  setObjectName(QStringLiteral("adBanner"));
  setCursor(Qt::PointingHandCursor);
  connect(&sdk_, &VornelAppSDK::currentAdChanged, this, &VornelAdBannerView::reload);
  reload();
}

namespace {

quint32 littleEndian32(const QByteArray& bytes, qsizetype at) {
  quint32 value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<quint8>(bytes.at(at + i));
  return value;
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at) {
  quint32 value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<quint8>(bytes.at(at + i));
  return value;
}

bool within(qint64 width, qint64 height, QSize limit) {
  return width > 0 && height > 0 && width <= limit.width() && height <= limit.height();
}

// Whether every picture an icon file holds is within `limit`, by the size
// each picture's own header gives: the icon's directory may say anything (a
// 200 × 100 entry held a 5,600 × 5,600 PNG), and the toolkit decodes an
// embedded PNG whole, whatever its entry says.
bool iconFramesWithin(const QByteArray& bytes, QSize limit) {
  if (bytes.size() < 6) return false;
  const int count = static_cast<quint8>(bytes.at(4)) | (static_cast<quint8>(bytes.at(5)) << 8);
  if (count == 0 || bytes.size() < 6 + 16 * qsizetype(count)) return false;
  static const QByteArray kPng("\x89PNG\r\n\x1a\n", 8);
  for (int i = 0; i < count; ++i) {
    const qsizetype entry = 6 + 16 * qsizetype(i);
    const qint64 offset = littleEndian32(bytes, entry + 12);
    const qint64 size = littleEndian32(bytes, entry + 8);
    if (offset < 0 || size <= 0 || offset + size > bytes.size()) return false;
    if (bytes.mid(offset, 8) == kPng) {
      // The first chunk is IHDR: its width and height.
      if (size < 24 || bytes.mid(offset + 12, 4) != "IHDR") return false;
      if (!within(bigEndian32(bytes, offset + 16), bigEndian32(bytes, offset + 20), limit)) return false;
    } else {
      // A bitmap: its info header's width, and its height, which counts the
      // picture and its mask.
      if (size < 16) return false;
      const qint64 width = static_cast<qint32>(littleEndian32(bytes, offset + 4));
      const qint64 height = static_cast<qint32>(littleEndian32(bytes, offset + 8));
      if (!within(width, std::abs(height) / 2, limit)) return false;
    }
  }
  return true;
}

}  // namespace

QImage VornelAdBannerView::decodePicture(const QByteArray& bytes, QSize limit) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  // A picture larger than it can ever be shown is never decoded (a small
  // file may hold a huge picture): only kinds whose header gives the size of
  // what is decoded (a drawing is drawn at its size). An animation (GIF,
  // WebP) is drawn frame by frame on a canvas of its header's size; an icon
  // holds pictures of their own sizes, each looked at.
  const QByteArray format = reader.format();
  static const QList<QByteArray> kSizedByHeader{"png", "jpeg", "gif", "bmp", "webp", "svg"};
  if (format == "ico" || format == "cur") {
    if (!iconFramesWithin(bytes, limit)) return {};
  } else if (!kSizedByHeader.contains(format)) {
    return {};
  }
  const QSize size = reader.size();
  if (!size.isValid() || !within(size.width(), size.height(), limit)) return {};
  // The first picture, read afresh.
  buffer.seek(0);
  QImageReader first(&buffer, format);
  const QImage image = first.read();
  if (!within(image.width(), image.height(), limit)) return {};
  return image;
}

void VornelAdBannerView::reload() {
  ++generation_;
  showPicture(QImage());
  if (!sdk_.currentAd() || sdk_.adImage().isEmpty()) return;
  // Decoded off the window thread, once per announcement; a picture that
  // does not decode, or is too large, shows nothing.
  const qreal ratio = std::max<qreal>(1, devicePixelRatioF());
  const QSize limit(qCeil(kSize.width() * ratio * 2), qCeil(kSize.height() * ratio * 2));
  startOffMain(
      this, [bytes = sdk_.adImage(), limit] { return decodePicture(bytes, limit); },
      [this, generation = generation_](const QImage& image) {
        if (generation == generation_) showPicture(image);
      });
}

void VornelAdBannerView::showPicture(const QImage& image) {
  image_ = image;
  setFixedSize(hasAd() ? kSize : QSize(0, 0));
  setVisible(hasAd());
  setAccessibleName(hasAd() ? sdk_.currentAd()->link_url : QString());
  // The address comes from the network: a tooltip would take "<b>…" or
  // "<img …>" in it for markup.
  setToolTip(hasAd() ? Qt::convertFromPlainText(sdk_.currentAd()->link_url, Qt::WhiteSpaceNoWrap) : QString());
  updateGeometry();
  update();
}

QSize VornelAdBannerView::sizeHint() const { return hasAd() ? kSize : QSize(0, 0); }

void VornelAdBannerView::paintEvent(QPaintEvent*) {
  if (!hasAd()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.setClipPath(Painting::continuousRoundRect(QRectF(QPointF(0, 0), QSizeF(kSize)), 12));
  p.drawImage(QRectF(QPointF(0, 0), QSizeF(kSize)), image_);
}

void VornelAdBannerView::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void VornelAdBannerView::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (!click || !hasAd()) return;
  const QString link = sdk_.currentAd()->link_url;
  const auto failed = [this, link](const LocKey& reason) { Alert::presentOpenFailed(settings_, link, reason, false, this); };
  if (!sdk_.openCurrentAd(this, failed)) failed(LocKey::alertOpenNotAnAddress());
}

}  // namespace tlr
