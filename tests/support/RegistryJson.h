#pragma once

#include "registry/AgentRegistry.h"

#include <QByteArray>
#include <QList>

#include <memory>

namespace tlr::test {

// The registry of a JSON document, decoded by the registry codec; the test
// fails when it does not decode.
std::shared_ptr<const AgentRegistry> registryFromJson(const QByteArray& json);
// One agent entry of JSON text (its members without the braces).
AgentEntry entryFromJson(const QByteArray& members);
// The text of a registry document with one command-line agent, `id`, known
// by the executable name `executableName` (for a sandboxed application).
QByteArray oneCliAgentDocument(const QString& id, const QString& displayName, const QString& executableName);
// A registry document holding these agent objects (JSON texts), in order.
std::shared_ptr<const AgentRegistry> registryOfAgents(const QList<QByteArray>& agents);

}  // namespace tlr::test
