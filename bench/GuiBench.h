#pragma once

// What the window benchmarks share: the CPU taken while the event loop runs,
// and a main that runs them under a QApplication in a home of their own.

#include "core/stores/SettingsStore.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>

namespace tlr::bench {

// Process CPU seconds while the event loop runs for `ms`.
inline double cpuSecondsWhileRunning(int ms) {
  const std::clock_t start = std::clock();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return double(std::clock() - start) / CLOCKS_PER_SEC;
}

// QT_QPA_PLATFORM picks the display: offscreen by default, or an X server
// such as Xvfb.
inline int runGuiBenchmarks(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A home of its own: the stores read and write there, never the user's.
  QTemporaryDir home;
  qputenv("HOME", QFile::encodeName(home.path()));
  for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) qunsetenv(v);
  QApplication app(argc, argv);
  SettingsStore::shared().setLanguage(AppLanguage::en);
  Appearance appearance;
  appearance.setAppliesApplicationPalette(true);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace tlr::bench
