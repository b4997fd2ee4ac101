#pragma once

#include "core/installers/StepResult.h"
#include "core/texts/Lang.h"
#include "core/texts/LocTexts.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <gtest/gtest.h>

namespace tlr::test {

// Writes an executable script into ~/.local/bin, one of the folders recipe
// programs are looked for in.
inline QString addUserProgram(TempHome& home, const QString& name, const QString& body) {
  const QString path = home.writeFile(".local/bin/" + name, ("#!/bin/sh\n" + body).toUtf8());
  QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
  return path;
}

// Collects what an asynchronous run hands out, checking that every call
// arrives on the main thread.
struct RowCollector {
  QList<StepResult> progress;
  std::optional<QList<StepResult>> completed;
  bool offMainThread = false;

  StepProgressHandler onProgress();
  StepCompletionHandler onComplete();
  bool waitForCompletion(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return waitUntil([this] { return completed.has_value(); }, timeout);
  }
};

// A step's text or note in the interface language of the moment.
inline QString textOf(const LocKey& key) { return LocTexts::text(Lang::current(), key); }
inline std::optional<QString> textOf(const std::optional<LocKey>& key) {
  return key ? std::optional<QString>(textOf(*key)) : std::nullopt;
}

struct ExpectedRow {
  QString label;
  bool success;
  std::optional<QString> error;
  // Compared only when given.
  std::optional<QString> details = std::nullopt;
};

inline void expectRows(const QList<StepResult>& rows, const QList<ExpectedRow>& expected) {
  ASSERT_EQ(rows.size(), expected.size());
  for (qsizetype i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(textOf(rows[i].label), expected[i].label);
    EXPECT_EQ(rows[i].success, expected[i].success);
    EXPECT_EQ(textOf(rows[i].error), expected[i].error);
    if (expected[i].details) {
      EXPECT_EQ(rows[i].details, expected[i].details);
    }
  }
}

}  // namespace tlr::test
