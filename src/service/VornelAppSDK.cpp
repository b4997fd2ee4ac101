#include "service/VornelAppSDK.h"

#include "core/NetworkLogger.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "core/DesktopOpen.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace tlr {
namespace {

constexpr const char* kTag = "[Vornel] ";

// A text key: absent is empty, any other type is malformed.
bool readText(const QJsonObject& o, const char* key, QString& into) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return true;
  if (!v.isString()) return false;
  into = v.toString();
  return true;
}

bool readFlag(const QJsonObject& o, const char* key, bool& into) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return true;
  if (!v.isBool()) return false;
  into = v.toBool();
  return true;
}

QString systemVersion() { return QStringLiteral("Linux ") + QSysInfo::kernelVersion(); }

// How far the network layer reads ahead of us: what a too large answer can
// cost before it is noticed.
constexpr qint64 kReadAhead = 64 * 1024;

}  // namespace

// What a download has brought so far, never more than its limit.
struct VornelAppSDK::LimitedBody {
  QByteArray data;
  qint64 limit = 0;
  bool tooLarge = false;
};

// Collects what `reply` downloads into the returned body while it streams:
// a declared length beyond `limit`, or bytes beyond it, abort the transfer
// at once. HTTP/1.1 only, whose reading stops while the read buffer is full,
// so nothing much beyond the limit is ever held.
std::shared_ptr<VornelAppSDK::LimitedBody> VornelAppSDK::collectLimited(QNetworkReply* reply, qint64 limit) {
  auto body = std::make_shared<LimitedBody>();
  body->limit = limit;
  reply->setReadBufferSize(kReadAhead);
  const auto refuse = [reply, body] {
    body->tooLarge = true;
    body->data = QByteArray();
    reply->abort();
  };
  connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, body, refuse] {
    bool known = false;
    const qint64 declared = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (!body->tooLarge && known && declared > body->limit) refuse();
  });
  const auto take = [reply, body, refuse] {
    if (body->tooLarge || reply->bytesAvailable() <= 0) return;
    body->data += reply->read(body->limit + 1 - body->data.size());
    if (body->data.size() > body->limit) refuse();
  };
  connect(reply, &QNetworkReply::readyRead, reply, take);
  // Connected before the caller's own handler of the end, so it sees all.
  connect(reply, &QNetworkReply::finished, reply, take);
  return body;
}

namespace {

QNetworkRequest limitedRequest(const QUrl& url, std::chrono::milliseconds timeout) {
  QNetworkRequest request(url);
  request.setTransferTimeout(static_cast<int>(timeout.count()));
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  return request;
}

QString tooLargeText(qint64 limit) { return QStringLiteral("larger than %1 bytes").arg(limit); }

}  // namespace

std::optional<VornelUpdate> VornelUpdate::fromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  if (!o.value("latest_version").isString() || !o.value("update_available").isBool())
    return std::nullopt;
  VornelUpdate u;
  const bool wellFormed = readText(o, "mode", u.mode) &&
                          readText(o, "latest_version", u.latest_version) &&
                          readText(o, "min_supported_version", u.min_supported_version) &&
                          readFlag(o, "update_available", u.update_available) &&
                          readFlag(o, "force", u.force) &&
                          readText(o, "download_url", u.download_url) &&
                          readText(o, "notes", u.notes);
  if (!wellFormed) return std::nullopt;
  return u;
}

std::optional<VornelAd> VornelAd::fromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  if (!o.value("image_url").isString() || !o.value("link_url").isString()) return std::nullopt;
  VornelAd ad;
  if (!readText(o, "id", ad.id)) return std::nullopt;
  ad.image_url = o.value("image_url").toString();
  ad.link_url = o.value("link_url").toString();
  return ad;
}

bool isOpenableWebAddress(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.isRelative()) return false;
  const QString scheme = url.scheme().toLower();
  return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

VornelAppSDK& VornelAppSDK::shared() {
  // Owned by the application object, so it goes before Qt shuts down.
  static VornelAppSDK* instance =
      new VornelAppSDK(NetworkLogger::shared(), QCoreApplication::instance());
  return *instance;
}

VornelAppSDK::VornelAppSDK(NetworkLogger& networkLog, Timing timing, QObject* parent)
    : QObject(parent), networkLog_(networkLog), timing_(timing) {
  heartbeat_.setInterval(timing_.defaultHeartbeat);
  connect(&heartbeat_, &QTimer::timeout, this, [this] { checkNow(QStringLiteral("heartbeat")); });
}

VornelAppSDK::~VornelAppSDK() = default;

QString VornelAppSDK::installId(const QString& appId) {
  const QString key = QStringLiteral("vornel.") + appId + QStringLiteral(".install_id");
  Defaults& defaults = Defaults::shared();
  if (auto stored = defaults.string(key); stored && !stored->isEmpty()) return *stored;
  const QString made = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
  defaults.set(key, made);
  return made;
}

void VornelAppSDK::start(const QString& appId, const QString& version, const QUrl& endpoint,
                         const QString& channel) {
  appId_ = appId;
  version_ = version;
  endpoint_ = endpoint;
  channel_ = channel;
  installId_ = installId(appId);
  heartbeat_.start();
  checkNow(QStringLiteral("start"));
}

void VornelAppSDK::stop() {
  heartbeat_.stop();
  for (QNetworkReply* reply : network_.findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly)) {
    disconnect(reply, nullptr, this, nullptr);  // no answer is handled any more
    reply->abort();
    delete reply;
  }
}

int VornelAppSDK::requestsInFlight() const {
  int count = 0;
  for (const QNetworkReply* reply : network_.findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly))
    count += reply->isRunning() ? 1 : 0;
  return count;
}

void VornelAppSDK::appDidBecomeActive() {
  if (appId_.isEmpty()) return;  // not started
  if (sinceLastCheck_.isValid() &&
      sinceLastCheck_.elapsed() < timing_.activationGap.count())
    return;
  checkNow(QStringLiteral("activate"));
}

std::chrono::milliseconds VornelAppSDK::heartbeatInterval() const {
  return heartbeat_.intervalAsDuration();
}

QUrl VornelAppSDK::checkUrl() const {
  QUrl base = endpoint_;
  // "…/v1" and "…/v1/" name the same service.
  if (!base.path().endsWith('/')) base.setPath(base.path() + '/');
  return base.resolved(QUrl(QString::fromLatin1(kCheckPath)));
}

QJsonObject VornelAppSDK::requestBody(const QString& reason) const {
  return QJsonObject{
      {"app_id", appId_},       {"version", version_},    {"channel", channel_},
      {"install_id", installId_}, {"reason", reason},      {"platform", "linux"},
      {"os_version", systemVersion()},
  };
}

void VornelAppSDK::checkNow(const QString& reason) {
  const QByteArray body = QJsonDocument(requestBody(reason)).toJson(QJsonDocument::Compact);
  QNetworkRequest request = limitedRequest(checkUrl(), timing_.requestTimeout);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
  sinceLastCheck_.start();
  QNetworkReply* reply = network_.post(request, body);
  const std::shared_ptr<LimitedBody> answer = collectLimited(reply, kMaxAnswerBytes);
  connect(reply, &QNetworkReply::finished, this, [this, reply, answer, reason, bytes = body.size()] {
    reply->deleteLater();
    handleReply(*reply, *answer, reason, bytes);
  });
}

std::optional<VornelAppSDK::Answer> VornelAppSDK::decodeAnswer(QNetworkReply& reply, const LimitedBody& body,
                                                               QString* why) {
  if (body.tooLarge) {
    *why = QStringLiteral("answer ") + tooLargeText(body.limit);
    return std::nullopt;
  }
  if (reply.error() != QNetworkReply::NoError) {
    *why = reply.errorString();
    return std::nullopt;
  }
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(body.data, &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
    *why = QStringLiteral("answer is not a JSON object");
    return std::nullopt;
  }
  const QJsonObject o = doc.object();
  Answer answer;
  const QJsonValue update = o.value("update");
  if (!update.isUndefined() && !update.isNull()) {
    answer.update = VornelUpdate::fromJson(update);
    if (!answer.update) {
      *why = QStringLiteral("malformed update record");
      return std::nullopt;
    }
  }
  // A malformed announcement costs only the announcement, never the check.
  answer.ad = VornelAd::fromJson(o.value("ad"));
  const QJsonValue interval = o.value("heartbeat_interval");
  if (!interval.isUndefined() && !interval.isNull()) {
    if (!interval.isDouble() || !(interval.toDouble() > 0)) {
      *why = QStringLiteral("malformed heartbeat_interval");
      return std::nullopt;
    }
    answer.heartbeatSeconds = interval.toDouble();
  }
  return answer;
}

void VornelAppSDK::handleReply(QNetworkReply& reply, const LimitedBody& body, const QString& reason,
                               qint64 bytes) {
  QString why;
  const std::optional<Answer> answer = decodeAnswer(reply, body, &why);
  networkLog_.log(reason == QLatin1String("heartbeat") ? NetworkEventKind::heartbeat
                                                       : NetworkEventKind::updateCheck,
                  bytes, answer.has_value());
  if (!answer) {
    log(kTag, QStringLiteral("check (%1) failed: %2").arg(reason, why));
    return;
  }
  if (answer->heartbeatSeconds) applyHeartbeat(*answer->heartbeatSeconds);
  if (!answer->ad)
    setCurrentAd(std::nullopt, {});
  else if (answer->ad != currentAd_)
    fetchAdImage(*answer->ad);
  if (!answer->update) return;
  currentUpdate_ = answer->update;
  Q_EMIT currentUpdateChanged();
  if (currentUpdate_->update_available && onUpdateAvailable_) {
    const VornelUpdate update = *currentUpdate_;  // the handler may replace itself
    UpdateHandler handler = onUpdateAvailable_;
    handler(update);
  }
}

void VornelAppSDK::setCurrentAd(std::optional<VornelAd> ad, QByteArray image) {
  if (!ad) image.clear();
  if (ad == currentAd_ && image == adImage_) return;
  currentAd_ = std::move(ad);
  adImage_ = std::move(image);
  Q_EMIT currentAdChanged();
}

bool VornelAppSDK::openCurrentAd(QObject* context, std::function<void(const LocKey&)> failed) const {
  if (!currentAd_) return false;
  // The address comes from the network: only web pages are opened, never
  // file: or another scheme a local program would act on.
  if (!isOpenableWebAddress(currentAd_->link_url)) {
    log(kTag, QStringLiteral("ad link refused (not http/https): ") + currentAd_->link_url.left(200));
    return false;
  }
  DesktopOpen::address(QUrl(currentAd_->link_url, QUrl::StrictMode).toString(QUrl::FullyEncoded), context,
                       std::move(failed));
  return true;
}

void VornelAppSDK::fetchAdImage(const VornelAd& ad) {
  if (!isOpenableWebAddress(ad.image_url)) {
    log(kTag, QStringLiteral("ad image refused (not http/https)"));
    setCurrentAd(std::nullopt, {});
    return;
  }
  QNetworkReply* reply = network_.get(limitedRequest(QUrl(ad.image_url, QUrl::StrictMode), timing_.requestTimeout));
  const std::shared_ptr<LimitedBody> image = collectLimited(reply, kMaxAdImageBytes);
  connect(reply, &QNetworkReply::finished, this, [this, reply, image, ad] {
    reply->deleteLater();
    if (image->tooLarge) {
      log(kTag, QStringLiteral("ad image failed: ") + tooLargeText(image->limit));
      return;
    }
    if (reply->error() != QNetworkReply::NoError) {
      log(kTag, QStringLiteral("ad image failed: ") + reply->errorString());
      return;
    }
    if (image->data.isEmpty()) return;
    setCurrentAd(ad, std::move(image->data));
  });
}

void VornelAppSDK::applyHeartbeat(double seconds) {
  using std::chrono::milliseconds;
  const double ms = std::clamp(seconds * 1000.0, double(timing_.minimumHeartbeat.count()),
                               double(timing_.maximumHeartbeat.count()));
  const milliseconds wanted(static_cast<milliseconds::rep>(std::llround(ms)));
  // Setting the interval restarts the timer, so only a real change does it.
  if (wanted != heartbeat_.intervalAsDuration()) heartbeat_.setInterval(wanted);
}

}  // namespace tlr
