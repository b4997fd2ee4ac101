#include "platform/Log.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

namespace {

QStringList g_passed;

void capture(QtMsgType, const QMessageLogContext&, const QString& message) { g_passed << message; }

}  // namespace

// Only the toolkit's runtime-folder notice is dropped; every other message,
// also other notices about the same variable, reaches the handler that was
// installed before.
TEST(ToolkitNotices, OnlyTheRuntimeFolderNoticeIsDropped) {
  const QtMessageHandler before = qInstallMessageHandler(&capture);
  tlr::quietToolkitNotices();
  qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-someone'");
  qWarning("QStandardPaths: wrong permissions on runtime directory /run/user/0, 0755 instead of 0700");
  qWarning("a warning of our own");
  qDebug("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-someone'");
  qInstallMessageHandler(before);
  EXPECT_EQ(g_passed, QStringList({"QStandardPaths: wrong permissions on runtime directory /run/user/0, 0755 "
                                   "instead of 0700",
                                   "a warning of our own",
                                   "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-someone'"}));
}
