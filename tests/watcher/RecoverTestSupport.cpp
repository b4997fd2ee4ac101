#include "RecoverTestSupport.h"

#include "registry/RegistryCodec.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <gtest/gtest.h>

namespace tlr::test {

std::shared_ptr<const AgentRegistry> registryFromJson(const QByteArray& json) {
  DecodeResult<RegistryFile> decoded = RegistryCodec::decodeFile(json);
  EXPECT_TRUE(decoded.ok()) << (decoded.ok() ? "" : decoded.error().description().toStdString());
  if (!decoded.ok()) return std::make_shared<const AgentRegistry>(RegistryFile{});
  return std::make_shared<const AgentRegistry>(std::move(decoded).value());
}

AgentEntry entryFromJson(const QByteArray& members) {
  DecodeResult<AgentEntry> decoded = RegistryCodec::decodeEntry("{" + members + "}");
  EXPECT_TRUE(decoded.ok()) << (decoded.ok() ? "" : decoded.error().description().toStdString());
  return decoded.ok() ? std::move(decoded).value() : AgentEntry{};
}

QString copyFakeAgent(const QString& dir, const QString& name) {
  QDir().mkpath(dir);
  const QString path = dir + "/" + name;
  EXPECT_TRUE(QFile::copy(toolPath("tlr_fake_agent"), path));
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

QString uniqueAgentName(const QString& stem) {
  return stem + "-" + QUuid::createUuid().toString(QUuid::Id128).left(10);
}

void addFakeTerminal(FakeBin& bin, bool runs) {
  // "$4" is the text of "-e /bin/sh -c <text>". The shell stays the parent
  // of what it starts, so the started agent's exit is reaped at once.
  bin.add("x-terminal-emulator", QStringLiteral("printf '%s\\n' \"$4\" >> '%1'\n%2")
                                     .arg(bin.recordPath("x-terminal-emulator"),
                                          runs ? QStringLiteral("shift\n\"$@\"\n") : QString()));
}

QStringList terminalTexts(const FakeBin& bin, int count) {
  const QString record = bin.recordPath("x-terminal-emulator");
  auto lines = [&] { return readFile(record).split('\n', Qt::SkipEmptyParts); };
  EXPECT_TRUE(waitUntil([&] { return lines().size() >= count; }, std::chrono::seconds(5)));
  return lines();
}

OnlyFakesOnPath::OnlyFakesOnPath(const FakeBin& bin) : saved_(qgetenv("PATH")) {
  qputenv("PATH", QFile::encodeName(bin.path()));
}

OnlyFakesOnPath::~OnlyFakesOnPath() { qputenv("PATH", saved_); }

}  // namespace tlr::test
