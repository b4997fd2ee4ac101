#pragma once

#include <QDBusMessage>
#include <QObject>

#include <optional>

namespace tlr {

// The desktop's light or dark preference, as the freedesktop settings portal
// ("org.freedesktop.appearance" / "color-scheme") publishes it on the session
// bus. The first reading is asked for asynchronously, so creating the object
// never waits; later changes arrive through the portal's SettingChanged
// signal. Without a session bus or portal the preference stays unknown.
// Main thread only.
class DesktopColorScheme final : public QObject {
  Q_OBJECT

 public:
  enum class Preference { noPreference, dark, light };

  explicit DesktopColorScheme(QObject* parent = nullptr);

  // Starts the first query and subscribes to changes. Does nothing when no
  // session bus is reachable.
  void start();

  // Unknown until the portal answered.
  std::optional<Preference> preference() const { return preference_; }

  // The portal's numeric value: 1 prefers dark, 2 prefers light, anything
  // else (0) states no preference.
  static Preference fromPortalValue(uint value);

 Q_SIGNALS:
  void preferenceChanged();

 private Q_SLOTS:
  void onSettingChanged(const QDBusMessage& message);

 private:
  void take(uint value);

  std::optional<Preference> preference_;
};

}  // namespace tlr
