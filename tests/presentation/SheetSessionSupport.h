#pragma once

#include "core/stores/SettingsStore.h"
#include "registry/AgentEntry.h"
#include "support/RecipeTestSupport.h"
#include "support/RegistryJson.h"

#include <QFile>
#include <QObject>

namespace tlr::test {

// Only `bin` is on PATH for the life of the object, so no program of this
// machine (a terminal, an opener) can be started by name.
class OnlyOnPath {
 public:
  explicit OnlyOnPath(const FakeBin& bin) : saved_(qgetenv("PATH")) { qputenv("PATH", QFile::encodeName(bin.path())); }
  ~OnlyOnPath() { qputenv("PATH", saved_); }
  OnlyOnPath(const OnlyOnPath&) = delete;
  OnlyOnPath& operator=(const OnlyOnPath&) = delete;

 private:
  QByteArray saved_;
};

// Each value a session's phase took, in order, as its `changed` signal
// announced it (a repeat of the same phase is recorded once).
template <class Session>
class PhaseLog {
 public:
  explicit PhaseLog(Session& session) : session_(session) {
    QObject::connect(&session, &Session::changed, [this] {
      if (phases.isEmpty() || phases.last() != session_.phase()) phases.append(session_.phase());
    });
  }
  bool waitFor(typename Session::Phase phase, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return waitUntil([&] { return session_.phase() == phase; }, timeout);
  }
  QList<typename Session::Phase> phases;

 private:
  Session& session_;
};

inline QStringList labels(const QList<StepResult>& rows) {
  QStringList texts;
  for (const StepResult& row : rows) texts.append(textOf(row.label));
  return texts;
}

inline void setLanguage(AppLanguage language) { SettingsStore::shared().setLanguage(language); }

}  // namespace tlr::test
