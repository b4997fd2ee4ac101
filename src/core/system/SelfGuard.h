#pragma once

#include "platform/SerialWorker.h"
#include "core/texts/LocKey.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tlr {

// Registers Tollamere as the user's login item and cleans up the per-user
// service unit of older versions. Only an installed copy registers itself;
// a development copy refuses and says so in the log. install() and
// uninstall() run systemctl and wait for it (at most 5 s a call), so they
// belong off the main thread.
class SelfGuardInstaller final {
 public:
  static constexpr const char* kLabel = "com.tollamere.app";
  static constexpr const char* kPlistName = "com.tollamere.app.plist";

  // For the running program.
  static SelfGuardInstaller& shared();
  explicit SelfGuardInstaller(QString executablePath);

  bool isProductionApp() const;
  const QString& executablePath() const { return executablePath_; }
  // The legacy per-user service file.
  QString legacyPlistPath() const;

  // True when the login item is registered.
  [[nodiscard]] bool install();
  // True when the registration was removed (or there was none).
  [[nodiscard]] bool uninstall();

 private:
  void migrateLegacyPlistIfNeeded();
  // A launchd-style call ("enable", "user/<uid>/<label>") carried out by the
  // service manager; only a failure to run it is logged.
  void runLaunchctl(const QStringList& args);

  QString executablePath_;
};

// The user's auto-start choice: whether the start-up question was asked and
// whether auto-start is on ("TLR.selfGuard.asked", "TLR.selfGuard.enabled").
// Lives on the main thread; the installer's work runs on a worker and its
// outcome comes back to the main thread.
class SelfGuardStore final : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kAskedKey = "TLR.selfGuard.asked";
  static constexpr const char* kEnabledKey = "TLR.selfGuard.enabled";

  // An alert by its keys; the presenter says them in the window's language
  // and returns the button chosen.
  struct AlertText {
    LocKey message;
    LocKey informative;
    LocKey firstButton;
    std::optional<LocKey> secondButton;

    bool operator==(const AlertText&) const = default;
  };
  enum class AlertChoice { firstButton, secondButton };
  using AlertPresenter = std::function<AlertChoice(const AlertText&)>;

  static SelfGuardStore& shared();
  explicit SelfGuardStore(SelfGuardInstaller& installer, QObject* parent = nullptr);
  ~SelfGuardStore() override;

  bool asked() const { return asked_; }
  bool enabled() const { return enabled_; }

  // Turns auto-start on or off. On: enabled only once the registration
  // succeeded; a failure shows the failure alert and leaves it as it was.
  // Off: always ends off. enabledChanged() tells when the outcome is in.
  void setEnabled(bool wanted);
  // The first-run question: only in an installed copy, only once per user,
  // and only once a presenter is there to show it.
  void askAtStartupIfNeeded();
  // Filled in by the UI; without one no alert is shown.
  void setAlertPresenter(AlertPresenter presenter) { presenter_ = std::move(presenter); }

  static AlertText enableFailedAlertText();
  static AlertText startupQuestionText();

 Q_SIGNALS:
  void askedChanged();
  void enabledChanged();
  // After each setEnabled() has been carried out.
  void setEnabledFinished();
  // The desktop did not open the autostart folder the user asked to see.
  void openFailed(const QString& folder, const tlr::LocKey& reason);

 private:
  void storeEnabled(bool value);
  // setEnabled(), then `done` on the main thread once the result is applied.
  void applyEnabled(bool wanted, std::function<void()> done);
  void showSelfGuardEnableFailedAlert();

  SelfGuardInstaller& installer_;
  bool asked_ = false;
  bool enabled_ = false;
  AlertPresenter presenter_;
  SerialWorker worker_;
};

}  // namespace tlr
