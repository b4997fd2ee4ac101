#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Who this machine and this user are, as the backup manifest and the password
// vault see them.
namespace tlr::DeviceIdentity {

// The machine's identity as an upper-case UUID text
// ("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"), from the first readable file of
// machineIdFiles(); nothing when none holds a well-formed id.
std::optional<QString> machineUuid();
// "/etc/machine-id", then "/var/lib/dbus/machine-id".
QStringList machineIdFiles();
// The same rule over other files (for tests): the first file that can be read
// decides; a malformed id there counts as absent.
std::optional<QString> machineUuidFromFiles(const QStringList& files);
// A machine-id file's content, trimmed, is exactly 32 hexadecimal digits;
// anything else gives nothing.
std::optional<QString> uuidFromMachineId(const QByteArray& content);

// The login name of the account this process runs as, from the user
// database (never from $USER); empty when the database has no entry.
QString loginName();

// The name the user gave this computer: PRETTY_HOSTNAME of
// /etc/machine-info, else the host name.
QString hostDisplayName();
// PRETTY_HOSTNAME from the content of a machine-info file (quotes removed),
// or empty.
QString prettyHostNameFrom(const QByteArray& machineInfo);

// "Linux " followed by the first three numbers of the running kernel's
// release ("6.18.44-fc-v1300" gives "Linux 6.18.44"; missing numbers are 0).
QString osVersion();
QString osVersionFromRelease(const QString& release);

}  // namespace tlr::DeviceIdentity
