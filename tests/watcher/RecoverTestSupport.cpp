#include "RecoverTestSupport.h"

#include "registry/RegistryCodec.h"

#include <QCoreApplication>
#include <QFile>
#include <QThreadPool>

#include <gtest/gtest.h>

namespace tlr::test {

std::shared_ptr<const AgentRegistry> registryFromJson(const QByteArray& json) {
  DecodeResult<RegistryFile> decoded = RegistryCodec::decodeFile(json);
  EXPECT_TRUE(decoded.ok()) << (decoded.ok() ? "" : decoded.error().description().toStdString());
  if (!decoded.ok()) return std::make_shared<const AgentRegistry>(RegistryFile{});
  return std::make_shared<const AgentRegistry>(std::move(decoded).value());
}

AgentEntry entryFromJson(const QByteArray& members) {
  DecodeResult<AgentEntry> decoded = RegistryCodec::decodeEntry("{" + members + "}");
  EXPECT_TRUE(decoded.ok()) << (decoded.ok() ? "" : decoded.error().description().toStdString());
  return decoded.ok() ? std::move(decoded).value() : AgentEntry{};
}

std::shared_ptr<const AgentRegistry> registryOfAgents(const QList<QByteArray>& agents) {
  QByteArray joined;
  for (const QByteArray& a : agents) joined += (joined.isEmpty() ? "" : ",") + a;
  return registryFromJson(R"({"schemaVersion":1,"updatedAt":"x","agents":[)" + joined + "]}");
}

AgentLifecycleWatcher::Services IsolatedStores::services(std::function<MemoryPressureLevel()> pressure) {
  AgentLifecycleWatcher::Services s;
  s.events = &events;
  s.lockOnline = &lockOnline;
  s.doctorResults = &doctorResults;
  s.signalled = &signalled;
  s.classify = [pressure = std::move(pressure)](const RawExitInfo& raw) {
    return ExitSignalClassifier::classify(raw, pressure);
  };
  s.runDoctor = [](const AgentEntry&) { return std::nullopt; };
  s.clock = &std::chrono::steady_clock::now;
  return s;
}

QStringList IsolatedStores::eventTypes(const QString& agentId) const {
  QStringList names;
  for (const AgentEvent& e : events.recentEvents(agentId, EventStore::maxPerAgent)) names.prepend(toString(e.type));
  return names;
}

OnlyFakesOnPath::OnlyFakesOnPath(const FakeBin& bin) : saved_(qgetenv("PATH")) {
  qputenv("PATH", QFile::encodeName(bin.path()));
}

OnlyFakesOnPath::~OnlyFakesOnPath() { qputenv("PATH", saved_); }

void finishOffMainWork(std::chrono::milliseconds timeout) {
  waitUntil([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, timeout);
  // A result posted just before the pool fell idle.
  QCoreApplication::processEvents();
}

}  // namespace tlr::test
