#pragma once

#include "core/stores/DoctorResultStore.h"
#include "core/stores/EventStore.h"
#include "core/stores/LockOnlineStore.h"
#include "platform/Defaults.h"
#include "registry/AgentRegistry.h"
#include "support/FakeAgents.h"
#include "support/RegistryJson.h"
#include "support/TestSupport.h"
#include "watcher/AgentLifecycleWatcher.h"
#include "watcher/SignalledPids.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace tlr::test {

// The stores the lifecycle watcher works with, each of its own over a
// temporary HOME, and the watcher's services over them, so a test never
// touches the shared ones. A fake-program folder is first on PATH.
struct IsolatedStores {
  TempHome home;
  FakeBin bin;
  Defaults defaults{home.path() + "/defaults.json"};
  EventStore events{defaults};
  LockOnlineStore lockOnline{defaults, events, [](const QString&) { return false; }};
  DoctorResultStore doctorResults;
  SignalledPids signalled;

  // A SIGKILL is an out-of-memory kill when `oomCounted` says the kernel
  // counted one; no doctor runs and the clock is the steady clock unless the
  // test says.
  AgentLifecycleWatcher::Services services(std::function<bool()> oomCounted);
  // The agent's event types, oldest first.
  QStringList eventTypes(const QString& agentId) const;
};

// Only the fakes are on PATH for the life of the object.
class OnlyFakesOnPath {
 public:
  explicit OnlyFakesOnPath(const FakeBin& bin);
  ~OnlyFakesOnPath();
  OnlyFakesOnPath(const OnlyFakesOnPath&) = delete;
  OnlyFakesOnPath& operator=(const OnlyFakesOnPath&) = delete;

 private:
  QByteArray saved_;
};

}  // namespace tlr::test
