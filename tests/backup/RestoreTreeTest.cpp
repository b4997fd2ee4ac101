#include "backup/RestoreTree.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tlr;
using Case = RestoreError::Case;

namespace {

using tlr::test::writeBytes;
using tlr::test::readBytes;

QStringList names(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(RestoreTreeCheck, RefusesLinksSpecialFilesAndDotDotNames) {
  QTemporaryDir dir;
  const QString root = dir.path() + "/r";
  writeBytes(root + "/a/ok.json", "{}");
  EXPECT_FALSE(RestoreTree::validate(root).has_value());

  QFile::link("/etc/passwd", root + "/a/deep-link");
  auto error = RestoreTree::validate(root);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::pathTraversal);
  EXPECT_EQ(error->description(), "拒绝恢复：检测到非法路径 符号链接 deep-link");
  QFile::remove(root + "/a/deep-link");

  ::mkfifo(QFile::encodeName(root + "/a/pipe").constData(), 0600);
  error = RestoreTree::validate(root);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->payload, "特殊文件 pipe");
  QFile::remove(root + "/a/pipe");

  writeBytes(root + "/a/..sneaky", "x");
  error = RestoreTree::validate(root);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->payload, root + "/a/..sneaky");
}

TEST(RestoreTreeMerge, AFolderIsMergedFileByFile) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.agent/conf.json", "backup");
  writeBytes(dir.path() + "/src/.agent/sub/new.txt", "new");
  QDir().mkpath(dir.path() + "/src/.agent/emptyfolder");
  writeBytes(dir.path() + "/home/.agent/conf.json", "current");
  writeBytes(dir.path() + "/home/.agent/only-here.txt", "stays");

  EXPECT_FALSE(RestoreTree::restore(dir.path() + "/src/.agent", dir.path() + "/home/.agent", false).has_value());
  EXPECT_EQ(readBytes(dir.path() + "/home/.agent/conf.json"), "backup");
  EXPECT_EQ(readBytes(dir.path() + "/home/.agent/sub/new.txt"), "new");
  EXPECT_EQ(readBytes(dir.path() + "/home/.agent/only-here.txt"), "stays");
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/home/.agent/emptyfolder"));
  EXPECT_EQ(names(dir.path() + "/home/.agent"), (QStringList{"conf.json", "only-here.txt", "sub"}))
      << "no temporary file is left beside the restored ones";
  EXPECT_EQ(readBytes(dir.path() + "/src/.agent/conf.json"), "backup") << "without consume the source stays";
}

TEST(RestoreTreeMerge, AFileRootIsRestoredAsAFile) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.agentrc", "from backup");
  writeBytes(dir.path() + "/home/.agentrc", "current");
  EXPECT_FALSE(RestoreTree::restore(dir.path() + "/src/.agentrc", dir.path() + "/home/.agentrc", true).has_value());
  EXPECT_EQ(readBytes(dir.path() + "/home/.agentrc"), "from backup");
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/src/.agentrc")) << "consumed: moved, not copied";

  // Missing target: made, with its folders.
  writeBytes(dir.path() + "/src/settings.json", "s");
  EXPECT_FALSE(
      RestoreTree::restore(dir.path() + "/src/settings.json", dir.path() + "/home/new/settings.json", false));
  EXPECT_EQ(readBytes(dir.path() + "/home/new/settings.json"), "s");
}

TEST(RestoreTreeMerge, AFolderStandingWhereAFileGoesIsCopyFailed) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.agentrc", "from backup");
  writeBytes(dir.path() + "/home/.agentrc/keep", "k");
  const auto error = RestoreTree::restore(dir.path() + "/src/.agentrc", dir.path() + "/home/.agentrc", true);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::copyFailed);
  EXPECT_TRUE(error->description().startsWith("恢复失败："));
  EXPECT_EQ(readBytes(dir.path() + "/home/.agentrc/keep"), "k");

  // Same inside a folder merge: the merge stops with copyFailed.
  writeBytes(dir.path() + "/src/d/x", "file");
  writeBytes(dir.path() + "/home/d/x/inner", "folder");
  const auto nested = RestoreTree::restore(dir.path() + "/src/d", dir.path() + "/home/d", false);
  ASSERT_TRUE(nested.has_value());
  EXPECT_EQ(nested->kind, Case::copyFailed);
}

TEST(RestoreTreeMerge, SetIdBitsNeverReachTheTarget) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/d/tool", "#!/bin/sh\n");
  ::chmod(QFile::encodeName(dir.path() + "/src/d/tool").constData(), 06755);
  EXPECT_FALSE(RestoreTree::restore(dir.path() + "/src/d", dir.path() + "/home/d", true).has_value());
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(dir.path() + "/home/d/tool").constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST(RestoreErrorTexts, DescriptionsAreTheEnginesChineseTexts) {
  EXPECT_EQ(RestoreError::of(Case::noBackupFound).description(), "iCloud 里没找到备份。请先创建一份备份。");
  EXPECT_EQ(RestoreError::of(Case::agentNotInBackup, "aider").description(), "备份里没有 aider 的数据");
  EXPECT_EQ(RestoreError::of(Case::unpackFailed).description(), "解压失败：");
  EXPECT_EQ(RestoreError::of(Case::unknownAgent, "x").description(), "未知 Agent: x");
  EXPECT_EQ(RestoreError::of(Case::sha256Mismatch).description(),
            "备份完整性校验失败（archive 内容与 manifest 记录不符）");
}
