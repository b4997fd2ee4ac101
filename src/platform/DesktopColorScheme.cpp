#include "platform/DesktopColorScheme.h"

#include "platform/SessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace tlr {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

// The portal wraps the value in one or two variants depending on its version.
std::optional<uint> unwrap(QVariant value) {
  for (int depth = 0; depth < 3; ++depth) {
    if (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
      value = value.value<QDBusVariant>().variant();
      continue;
    }
    bool ok = false;
    const uint number = value.toUInt(&ok);
    if (ok) return number;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

DesktopColorScheme::DesktopColorScheme(QObject* parent) : QObject(parent) {}

DesktopColorScheme::Preference DesktopColorScheme::fromPortalValue(uint value) {
  switch (value) {
    case 1:
      return Preference::dark;
    case 2:
      return Preference::light;
    default:
      return Preference::noPreference;
  }
}

void DesktopColorScheme::start() {
  // Only an existing session bus that answers: never have one started on
  // our behalf.
  if (!SessionBus::usable()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  // Any sender on the portal's path and interface: the portal answers under
  // a unique name of its own.
  bus.connect(QString(), kPath, kInterface, QStringLiteral("SettingChanged"), this,
              SLOT(onSettingChanged(QDBusMessage)));
  QDBusMessage read = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
  read << kNamespace << kKey;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 2000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusMessage reply = call->reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
    if (const auto value = unwrap(reply.arguments().first())) take(*value);
  });
}

void DesktopColorScheme::onSettingChanged(const QDBusMessage& message) {
  // SettingChanged(namespace, key, value)
  const QList<QVariant> args = message.arguments();
  if (args.size() != 3 || args[0].toString() != kNamespace || args[1].toString() != kKey) return;
  if (const auto number = unwrap(args[2])) take(*number);
}

void DesktopColorScheme::take(uint value) {
  const Preference next = fromPortalValue(value);
  if (preference_ == next) return;
  preference_ = next;
  Q_EMIT preferenceChanged();
}

}  // namespace tlr
