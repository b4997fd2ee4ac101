#pragma once

#include "registry/AgentRegistry.h"
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

// A copy of the tlr_fake_agent tool at `dir`/`name`: a process the scanner
// knows by that name.
QString copyFakeAgent(const QString& dir, const QString& name);
// A name no other process of the machine has.
QString uniqueAgentName(const QString& stem);

// A fake "x-terminal-emulator" that appends the command text it is given
// (after "-e /bin/sh -c") as one line to recordPath("x-terminal-emulator"),
// and, when `runs`, runs it with /bin/sh as its own child.
void addFakeTerminal(FakeBin& bin, bool runs);
// The recorded command texts, once `count` are there.
QStringList terminalTexts(const FakeBin& bin, int count = 1);

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
