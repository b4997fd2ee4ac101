// Outlives a test process to detach what it left mounted. Started once per
// test process (tests/support, when the machine can mount an encrypted
// image), it leaves that process's tree and session at once, so that
// neither a kill of the test's process group nor a runner's kill of the
// test's whole tree (ctest's timeout) reaches it. It then reads the test's
// temporary HOME folders from its standard input, one a line; at the end of
// that input (the test process has ended, whatever ended it) it detaches
// every file system still mounted below them and ends.
#include "../support/MountCleanup.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
  // Nothing of the test's but the input is held: a pipe the test waits on
  // never stays open here.
  ::close_range(3, ~0U, 0);
  const pid_t guard = ::fork();
  if (guard < 0) return 1;
  if (guard > 0) ::_exit(0);  // the test reaps this one at once
  ::setsid();
  for (const int s : {SIGHUP, SIGINT, SIGPIPE}) ::signal(s, SIG_IGN);

  QStringList roots;
  std::string line;
  int c;
  while ((c = std::getchar()) != EOF) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty()) roots << QFile::decodeName(QByteArray::fromStdString(line));
    line.clear();
  }
  // The system's own tools: the test may have put fakes first on its PATH.
  ::setenv("PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", 1);
  QCoreApplication app(argc, argv);
  for (const QString& root : roots) tlr::test::detachMountsBelow(root);
  return 0;
}
