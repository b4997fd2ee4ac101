#include "ui/shell/VornelAdBannerView.h"

#include "core/stores/SettingsStore.h"
#include "service/VornelAppSDK.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Painting.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>

namespace tlr {

VornelAdBannerView::VornelAdBannerView(VornelAppSDK& sdk, const SettingsStore& settings, QWidget* parent)
    : QWidget(parent), sdk_(sdk), settings_(settings) {
  setObjectName(QStringLiteral("adBanner"));
  setCursor(Qt::PointingHandCursor);
  connect(&sdk_, &VornelAppSDK::currentAdChanged, this, &VornelAdBannerView::reload);
  reload();
}

void VornelAdBannerView::reload() {
  image_ = QImage();
  if (sdk_.currentAd() && !sdk_.adImage().isEmpty()) {
    // Decoded here, once per announcement; a picture that does not decode
    // shows nothing.
    image_ = QImage::fromData(sdk_.adImage());
  }
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
