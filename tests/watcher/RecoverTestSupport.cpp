#include "RecoverTestSupport.h"

#include <QCoreApplication>
#include <QFile>

namespace tlr::test {

AgentLifecycleWatcher::Services IsolatedStores::services(std::function<bool()> oomCounted) {
  AgentLifecycleWatcher::Services s;
  s.events = &events;
  s.lockOnline = &lockOnline;
  s.doctorResults = &doctorResults;
  s.signalled = &signalled;
  s.classify = [oomCounted = std::move(oomCounted)](const RawExitInfo& raw, uint64_t ourSignals) {
    return ExitSignalClassifier::classify(raw, ourSignals, oomCounted);
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


}  // namespace tlr::test
