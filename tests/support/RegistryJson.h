#pragma once

#include "registry/AgentRegistry.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>

#include <memory>

namespace tlr::test {

// The registry of a JSON document, decoded by the registry codec; the test
// fails when it does not decode.
std::shared_ptr<const AgentRegistry> registryFromJson(const QByteArray& json);
// One agent entry of JSON text (its members without the braces).
AgentEntry entryFromJson(const QByteArray& members);
// A registry document holding these agent objects (JSON texts), in order.
std::shared_ptr<const AgentRegistry> registryOfAgents(const QList<QByteArray>& agents);
// The text of a registry document holding one command-line agent "fake",
// "Fake Agent", recognised by `executableName`, with `members` added to its
// object (a doctor, a setup command, a way to relaunch it).
QByteArray oneAgentDocument(const QString& executableName, const QJsonObject& members = {});
// The shipped registry's entry `id` as a JSON object, known only by
// `executableName` (a stand-in's unique name) in place of its executable
// names and argument patterns, so that a real copy of the agent running on
// the machine is never taken for it; its one-shot and option tables, its
// recipes and commands stay as shipped.
QJsonObject shippedEntryObject(const QString& id, const QString& executableName);
// The same entry decoded.
AgentEntry shippedEntry(const QString& id, const QString& executableName);

}  // namespace tlr::test
