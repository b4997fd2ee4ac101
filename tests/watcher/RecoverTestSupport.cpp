#include "RecoverTestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QThreadPool>

namespace tlr::test {

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
