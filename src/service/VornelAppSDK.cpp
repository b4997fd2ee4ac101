#include "service/VornelAppSDK.h"

#include "core/netlog/NetworkLogger.h"
#include "core/system/DesktopOpen.h"
#include "platform/Defaults.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
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
  static VornelAppSDK* instance = [] {
    auto* client = new VornelAppSDK(NetworkLogger::shared(), QCoreApplication::instance());
    client->setAnnouncementCache(Paths::appSupport() + '/' + QLatin1String(kAnnouncementFileName));
    return client;
  }();
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
  // A failed write is logged; this run keeps the id all the same.
  static_cast<void>(defaults.set(key, made));
  return made;
}

void VornelAppSDK::start(const QString& appId, const QString& version, const QUrl& endpoint,
                         const QString& channel) {
  appId_ = appId;
  version_ = version;
  endpoint_ = endpoint;
  channel_ = channel;
  installId_ = installId(appId);
  loadCachedAd();
  heartbeat_.start();
  checkNow(QStringLiteral("start"));
}

void VornelAppSDK::stop() {
  heartbeat_.stop();
  fetcher_.abortAll();  // no answer is handled any more
}

int VornelAppSDK::requestsInFlight() const { return fetcher_.inFlight(); }

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
  sinceLastCheck_.start();
  fetcher_.fetch({checkUrl(), body, kMaxAnswerBytes, timing_.requestTimeout, timing_.answerDeadline},
                 [this, reason, bytes = body.size()](const BoundedFetcher::Result& fetched) {
                   handleReply(fetched, reason, bytes);
                 });
}

Expected<VornelAppSDK::Answer, QString> VornelAppSDK::decodeAnswer(const BoundedFetcher::Result& fetched) {
  if (!fetched.ok())
    return Unexpected((fetched.failure == BoundedFetcher::Failure::network ? QString() : QStringLiteral("answer ")) +
                      fetched.error);
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(fetched.data, &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isObject())
    return Unexpected(QStringLiteral("answer is not a JSON object"));
  const QJsonObject o = doc.object();
  Answer answer;
  const QJsonValue update = o.value("update");
  if (!update.isUndefined() && !update.isNull()) {
    answer.update = VornelUpdate::fromJson(update);
    if (!answer.update) return Unexpected(QStringLiteral("malformed update record"));
  }
  // A malformed announcement costs only the announcement, never the check.
  answer.ad = VornelAd::fromJson(o.value("ad"));
  const QJsonValue interval = o.value("heartbeat_interval");
  if (!interval.isUndefined() && !interval.isNull()) {
    if (!interval.isDouble() || !(interval.toDouble() > 0))
      return Unexpected(QStringLiteral("malformed heartbeat_interval"));
    answer.heartbeatSeconds = interval.toDouble();
  }
  return answer;
}

void VornelAppSDK::handleReply(const BoundedFetcher::Result& fetched, const QString& reason, qint64 bytes) {
  const Expected<Answer, QString> decoded = decodeAnswer(fetched);
  networkLog_.log(reason == QLatin1String("heartbeat") ? NetworkEventKind::heartbeat
                                                       : NetworkEventKind::updateCheck,
                  bytes, decoded.ok());
  if (!decoded) {
    log(kTag, QStringLiteral("check (%1) failed: %2").arg(reason, decoded.error()));
    return;
  }
  const Answer* answer = &decoded.value();
  if (answer->heartbeatSeconds) applyHeartbeat(*answer->heartbeatSeconds);
  adAnswered_ = true;
  if (!answer->ad) {
    setCurrentAd(std::nullopt, {});
    cacheAd(std::nullopt, {});
  } else if (answer->ad != currentAd_) {
    fetchAdImage(*answer->ad);
  }
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
    cacheAd(std::nullopt, {});
    return;
  }
  fetcher_.fetch({QUrl(ad.image_url, QUrl::StrictMode), std::nullopt, kMaxAdImageBytes, timing_.requestTimeout,
                  timing_.answerDeadline},
                 [this, ad](const BoundedFetcher::Result& image) {
                   if (!image.ok()) {
                     log(kTag, QStringLiteral("ad image failed: ") + image.error);
                     return;
                   }
                   if (image.data.isEmpty()) return;
                   setCurrentAd(ad, image.data);
                   cacheAd(ad, image.data);
                 });
}

namespace {

// The kept announcement: its record and its picture, in one file, so the two
// always belong together. A file larger than this is no announcement of ours.
constexpr qint64 kAdCacheReadLimit = 8 * 1024 * 1024;

struct KeptAd {
  VornelAd ad;
  QByteArray image;
};

std::optional<KeptAd> readKeptAd(const QString& path) {
  const FileOps::ReadResult read = FileOps::readFile(path, kAdCacheReadLimit);
  if (read.status == FileOps::ReadResult::Status::missing) return std::nullopt;
  const QJsonObject o = QJsonDocument::fromJson(read.data).object();
  std::optional<VornelAd> ad = VornelAd::fromJson(o);
  const QByteArray image = QByteArray::fromBase64(o.value(QLatin1String("image")).toString().toLatin1());
  if (read.status != FileOps::ReadResult::Status::ok || !ad || image.isEmpty() ||
      image.size() > VornelAppSDK::kMaxAdImageBytes) {
    log(kTag, QStringLiteral("kept announcement unreadable, not shown: ") +
                  (read.reason.isEmpty() ? path : read.reason));
    return std::nullopt;
  }
  return KeptAd{*ad, image};
}

}  // namespace

void VornelAppSDK::loadCachedAd() {
  if (adCacheFile_.isEmpty()) return;
  startOffMain(
      this, [path = adCacheFile_] { return readKeptAd(path); },
      [this](const std::optional<KeptAd>& kept) {
        // An answer of this run knows better.
        if (kept && !adAnswered_) setCurrentAd(kept->ad, kept->image);
      });
}

void VornelAppSDK::cacheAd(const std::optional<VornelAd>& ad, const QByteArray& image) {
  if (adCacheFile_.isEmpty()) return;
  QByteArray content;
  if (ad) {
    content = QJsonDocument(QJsonObject{{"id", ad->id},
                                        {"image_url", ad->image_url},
                                        {"link_url", ad->link_url},
                                        {"image", QString::fromLatin1(image.toBase64())}})
                  .toJson(QJsonDocument::Compact);
  }
  adCacheWriter_.post([path = adCacheFile_, content] {
    if (content.isEmpty()) {
      QFile::remove(path);
      return;
    }
    if (const auto written = FileOps::writeOwnFile(path, content); !written)
      log(kTag, QStringLiteral("announcement not kept: ") + written.error());
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
