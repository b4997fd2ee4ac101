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

namespace tlr {

VornelAdBannerView::VornelAdBannerView(VornelAppSDK& sdk, const SettingsStore& settings, QWidget* parent)
    : QWidget(parent), sdk_(sdk), settings_(settings) {
  setObjectName(QStringLiteral("adBanner"));
  setCursor(Qt::PointingHandCursor);
  connect(&sdk_, &VornelAppSDK::currentAdChanged, this, &VornelAdBannerView::reload);
  reload();
}

QImage VornelAdBannerView::decodePicture(const QByteArray& bytes, QSize limit) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  // Its size is read from its header; a picture larger than it can ever be
  // shown is never decoded (a small file may hold a huge picture).
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > limit.width() || size.height() > limit.height()) return {};
  return reader.read();
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
