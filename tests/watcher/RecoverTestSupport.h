#pragma once

#include "registry/AgentRegistry.h"
#include "support/FakeAgents.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace tlr::test {

// The registry of a JSON document, decoded by the registry codec; the test
// fails when it does not decode.
std::shared_ptr<const AgentRegistry> registryFromJson(const QByteArray& json);
// One agent entry of JSON text (its members without the braces).
AgentEntry entryFromJson(const QByteArray& members);

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
