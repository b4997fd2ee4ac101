#pragma once

#include "platform/SerialWorker.h"
#include "core/texts/LocKey.h"
#include "platform/Expected.h"
#include "service/BoundedFetcher.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace tlr {

class NetworkLogger;

// The update record of the maker service's answer. Field names are the JSON
// keys of the answer.
struct VornelUpdate {
  QString mode;
  QString latest_version;
  QString min_supported_version;
  bool update_available = false;
  bool force = false;
  QString download_url;
  QString notes;

  // "latest_version" and "update_available" are required; the other keys
  // may be absent (empty text, false) but must have their type when present.
  static std::optional<VornelUpdate> fromJson(const QJsonValue& value);
};

// An announcement of the maker service: a picture and where a tap leads.
// Field names are the JSON keys of the answer's "ad" record.
struct VornelAd {
  QString id;
  QString image_url;
  QString link_url;

  // "image_url" and "link_url" are required texts; "id" is optional.
  static std::optional<VornelAd> fromJson(const QJsonValue& value);
  friend bool operator==(const VornelAd&, const VornelAd&) = default;
};

// Whether `text` is an address a click may open: http or https with a host.
// Anything else (file:, a custom scheme, a relative path) is refused.
bool isOpenableWebAddress(const QString& text);

// The client of the maker's update service. It posts a check ("app/check"
// under the base address) when started, when the application becomes active
// and on a heartbeat, publishes the update record of each answer and logs
// every check in the network log. It never blocks its caller and never lets
// a network failure out: a failed check is one log line and a network-log
// entry with success false. Lives on the main thread; answers are fetched
// on a thread of their own (each within its size limit and its deadline)
// and arrive on the main thread.
class VornelAppSDK final : public QObject {
  Q_OBJECT

 public:
  // Our update service.
  static constexpr const char* kDefaultEndpoint = "https://api.tollamere.example/v1/";
  static constexpr const char* kCheckPath = "app/check";

  struct Timing {
    // Silence that ends a request, and the time the whole exchange may take.
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(15)};
    std::chrono::milliseconds answerDeadline{std::chrono::seconds(30)};
    // Used until an answer names its own interval ("heartbeat_interval", in
    // seconds), which is kept within [minimumHeartbeat, maximumHeartbeat].
    std::chrono::milliseconds defaultHeartbeat{std::chrono::hours(6)};
    std::chrono::milliseconds minimumHeartbeat{std::chrono::minutes(1)};
    std::chrono::milliseconds maximumHeartbeat{std::chrono::hours(24 * 7)};
    // An activation this soon after the last check sends nothing: switching
    // between windows must not flood the service.
    std::chrono::milliseconds activationGap{std::chrono::minutes(1)};
  };

  using UpdateHandler = std::function<void(const VornelUpdate&)>;

  // The client of this process, created on first use on the main thread and
  // logging into NetworkLogger::shared().
  static VornelAppSDK& shared();

  explicit VornelAppSDK(NetworkLogger& networkLog, Timing timing, QObject* parent = nullptr);
  explicit VornelAppSDK(NetworkLogger& networkLog, QObject* parent = nullptr)
      : VornelAppSDK(networkLog, Timing{}, parent) {}
  ~VornelAppSDK() override;

  // The install id of `appId`: a lower-case UUID kept in the user defaults
  // under "vornel." + appId + ".install_id", made and stored when absent.
  static QString installId(const QString& appId);

  // Where the last announcement and its picture are kept between runs
  // (none: not kept). Set before start().
  void setAnnouncementCache(const QString& path) { adCacheFile_ = path; }
  static constexpr const char* kAnnouncementFileName = "announcement.json";

  // Stores the four values, takes the install id, shows the announcement
  // kept from an earlier run (read off the window thread, and only while no
  // answer has spoken), starts the heartbeat and sends the first check with
  // the reason "start". Returns at once.
  void start(const QString& appId, const QString& version, const QUrl& endpoint,
             const QString& channel = QStringLiteral("official"));
  // At quit: stops the heartbeat and aborts and frees every request still
  // in flight, without handling or logging them. Checks may start again.
  void stop();
  // Requests sent and not answered yet.
  int requestsInFlight() const;
  // Sends one check now, whatever the activation gap.
  void checkNow(const QString& reason);
  // Called by the UI when the application becomes active: a check with the
  // reason "activate", unless one was sent within the activation gap.
  void appDidBecomeActive();

  // Called on the main thread with the update record of an answer that marks
  // an update available. Replaces any earlier handler.
  void setOnUpdateAvailable(UpdateHandler handler) { onUpdateAvailable_ = std::move(handler); }
  // The update record of the last answer that carried one.
  const std::optional<VornelUpdate>& currentUpdate() const { return currentUpdate_; }

  // The announcement of the last answer, once its picture was downloaded
  // (the picture's encoded bytes, PNG or JPEG), or the one kept from an
  // earlier run until an answer speaks. An answer without an "ad" record
  // clears both, and the kept one.
  const std::optional<VornelAd>& currentAd() const { return currentAd_; }
  const QByteArray& adImage() const { return adImage_; }
  // Publishes an announcement and its picture (empty ad: none).
  void setCurrentAd(std::optional<VornelAd> ad, QByteArray image);
  // Opens the current announcement's link with the desktop's handler, only
  // when it is an http or https address. Returns whether it was handed on.
  // False when there is none or its link is no web page; otherwise it goes
  // to the desktop's opener, and `failed` (in `context`) hears when that did
  // not open it.
  bool openCurrentAd(QObject* context = nullptr, std::function<void(const LocKey&)> failed = {}) const;

  // The largest check answer and announcement picture taken: a download is
  // stopped as soon as it goes beyond.
  static constexpr qint64 kMaxAnswerBytes = 1024 * 1024;
  static constexpr qint64 kMaxAdImageBytes = 4 * 1024 * 1024;

  const QString& appId() const { return appId_; }
  const QString& version() const { return version_; }
  const QString& installId() const { return installId_; }
  const QString& channel() const { return channel_; }
  const QUrl& endpoint() const { return endpoint_; }
  std::chrono::milliseconds heartbeatInterval() const;

 Q_SIGNALS:
  void currentUpdateChanged();
  // currentAd() or adImage() changed.
  void currentAdChanged();

 private:
  struct Answer {
    std::optional<VornelUpdate> update;
    std::optional<double> heartbeatSeconds;
    std::optional<VornelAd> ad;
  };
  static Expected<Answer, QString> decodeAnswer(const BoundedFetcher::Result& fetched);

  QUrl checkUrl() const;
  QJsonObject requestBody(const QString& reason) const;
  void handleReply(const BoundedFetcher::Result& fetched, const QString& reason, qint64 bytes);
  void applyHeartbeat(double seconds);
  void fetchAdImage(const VornelAd& ad);
  void loadCachedAd();
  // Keeps the announcement for the next run (none: forgets it), off the
  // window thread.
  void cacheAd(const std::optional<VornelAd>& ad, const QByteArray& image);

  NetworkLogger& networkLog_;
  const Timing timing_;
  QTimer heartbeat_;
  QElapsedTimer sinceLastCheck_;

  QString appId_;
  QString version_;
  QString installId_;
  QString channel_ = QStringLiteral("official");
  QUrl endpoint_{QString::fromLatin1(kDefaultEndpoint)};
  std::optional<VornelUpdate> currentUpdate_;
  std::optional<VornelAd> currentAd_;
  QByteArray adImage_;
  UpdateHandler onUpdateAvailable_;
  QString adCacheFile_;
  bool adAnswered_ = false;  // an answer has said what the announcement is
  // Writes the kept announcement in the order of the changes.
  SerialWorker adCacheWriter_{QStringLiteral("TLR.Vornel.cache")};
  // Last: it ends, delivering nothing, before the rest goes.
  BoundedFetcher fetcher_;
};

}  // namespace tlr
