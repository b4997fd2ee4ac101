#include "AppFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace tlr::test {

QString AppFixture::pathWithout(const QStringList& missing) {
  QStringList path;
  int mirrors = 0;
  for (const QString& dir : qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
    const bool holds = std::any_of(missing.cbegin(), missing.cend(),
                                   [&](const QString& name) { return QFileInfo(dir + QLatin1Char('/') + name).exists(); });
    if (!holds) {
      path << dir;
      continue;
    }
    const QString mirror = home_.path() + QStringLiteral("/.path-without-%1").arg(mirrors++);
    QDir().mkpath(mirror);
    for (const QFileInfo& program : QDir(dir).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
      if (!missing.contains(program.fileName()))
        QFile::link(program.absoluteFilePath(), mirror + QLatin1Char('/') + program.fileName());
    path << mirror;
  }
  return path.join(QLatin1Char(':'));
}

QList<QJsonObject> AppFixture::storedEvents(const QString& agentId) const {
  // The user defaults hold the event log as JSON text, newest first.
  const QJsonObject defaults =
      QJsonDocument::fromJson(readFile(home_.path() + QStringLiteral("/.config/Tollamere/defaults.json")).toUtf8())
          .object();
  const QJsonArray log =
      QJsonDocument::fromJson(defaults.value(QStringLiteral("TLR.events")).toString().toUtf8()).array();
  QList<QJsonObject> events;
  for (const QJsonValue& value : log) {
    const QJsonObject event = value.toObject();
    if (event.value(QStringLiteral("agentId")).toString() == agentId) events << event;
  }
  std::reverse(events.begin(), events.end());
  std::stable_sort(events.begin(), events.end(), [](const QJsonObject& a, const QJsonObject& b) {
    return a.value(QStringLiteral("timestamp")).toDouble() < b.value(QStringLiteral("timestamp")).toDouble();
  });
  return events;
}

QStringList AppFixture::storedEventTypes(const QString& agentId) const {
  QStringList types;
  for (const QJsonObject& event : storedEvents(agentId)) types << event.value(QStringLiteral("type")).toString();
  return types;
}

bool AppFixture::hasStoredEvent(const QString& agentId, const QString& type, const QString& key) const {
  const QList<QJsonObject> events = storedEvents(agentId);
  return std::any_of(events.cbegin(), events.cend(), [&](const QJsonObject& event) {
    return event.value(QStringLiteral("type")).toString() == type && event.value(QStringLiteral("key")).toString() == key;
  });
}

}  // namespace tlr::test
