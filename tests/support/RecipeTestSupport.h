#pragma once

#include "core/installers/StepResult.h"
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
    EXPECT_EQ(rows[i].label, expected[i].label);
    EXPECT_EQ(rows[i].success, expected[i].success);
    EXPECT_EQ(rows[i].error, expected[i].error);
    if (expected[i].details) {
      EXPECT_EQ(rows[i].details, expected[i].details);
    }
  }
}

}  // namespace tlr::test
