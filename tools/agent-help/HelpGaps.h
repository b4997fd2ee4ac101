#pragma once

#include "ProgramHelp.h"
#include "registry/AgentEntry.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace tlr {

// What an installed version's help lists that an entry's argument tables
// (identify's one-shot, session and option tables) do not know, and what
// the tables list that this version no longer has.
struct HelpGaps {
  // One line each: a sub-command in neither command table, an option that
  // takes a value missing from (or in another of) the option tables, an
  // option that ends at once missing from oneShotArgs.
  QStringList missing;
  // Table entries this version's help does not list (kept for other
  // versions); nothing to do.
  QStringList notInThisVersion;

  // `top` is the program's own help; `sessionHelps` the helps of its session
  // sub-commands, by name, whose options that end at once must be one-shot
  // arguments too.
  static HelpGaps find(const AgentEntry::Identify& identify, const ProgramHelp& top,
                       const QMap<QString, ProgramHelp>& sessionHelps);
};

}  // namespace tlr
