#pragma once

#include <QString>
#include <QStringList>

namespace tlr {

// Where a handful of well-known agents keep their data under the home folder,
// plus agents whose data folders were registered while running (the backup
// self-test registers its fixture agent). Safe on any thread.
class BackupCatalog {
 public:
  // Paths below the home folder shared by the three Codex ids and the three
  // Claude Code ids, in catalog order.
  static QStringList codexUserAssets();
  static QStringList claudeUserAssets();

  // The ids of the catalog's table, in table order (registered ids are not
  // listed).
  static QStringList knownAgentIds();

  // The home-relative data paths of a catalog agent ("codex", "aider", ...;
  // ids compare exactly). Empty for an id outside the catalog and for an id
  // that was registered with registerAgent(), which shadows the catalog.
  static QStringList dataPaths(const QString& agentId);
  // The registered folders of `agentId` when it was registered, else the
  // home folder joined with each of dataPaths(agentId). Nothing is checked
  // for existence.
  static QStringList dataDirectories(const QString& agentId);
  // Sets the folders of `agentId` for the rest of the process, replacing an
  // earlier registration. Paths are kept as given (absolute paths expected).
  static void registerAgent(const QString& agentId, const QStringList& directories);
};

}  // namespace tlr
