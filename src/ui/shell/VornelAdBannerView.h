#pragma once

#include <QImage>
#include <QWidget>

namespace tlr {

class SettingsStore;
class VornelAppSDK;

// The maker's announcement: while the service holds an announcement and its
// picture, the picture stretched to 400 × 100, clipped to a rounded rectangle
// of radius 12; a click opens its link (web addresses only). Otherwise it
// takes no space and draws nothing.
class VornelAdBannerView final : public QWidget {
  Q_OBJECT

 public:
  static constexpr QSize kSize{400, 100};

  // A link that cannot be opened is told in the language of `settings`.
  VornelAdBannerView(VornelAppSDK& sdk, const SettingsStore& settings, QWidget* parent = nullptr);

  // Whether a picture is shown. A new announcement's picture is decoded off
  // the window thread: it shows a moment later.
  bool hasAd() const { return !image_.isNull(); }
  // The first picture in `bytes`, decoded only when every picture it holds
  // has a size within `limit` (the banner's size × the device pixel ratio ×
  // 2) by that picture's own header, in a kind whose header gives it (PNG,
  // JPEG, GIF, BMP, WebP, SVG; an icon by the header of each picture in it); a
  // null image otherwise. Any thread.
  static QImage decodePicture(const QByteArray& bytes, QSize limit);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void reload();
  void showPicture(const QImage& image);

  VornelAppSDK& sdk_;
  const SettingsStore& settings_;
  QImage image_;
  quint64 generation_ = 0;  // the announcement being decoded; older results are dropped
  bool pressed_ = false;
};

}  // namespace tlr
