#include "core/system/MemoryPressureReader.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace tlr {
namespace {

TEST(MemoryPressureReader, MapsStallSharesToTheSystemLevels) {
  test::TempHome home;
  const struct {
    const char* avg10;
    MemoryPressureLevel level;
  } rows[] = {{"0.00", MemoryPressureLevel::normal},   {"9.99", MemoryPressureLevel::normal},
              {"10.00", MemoryPressureLevel::warning}, {"39.99", MemoryPressureLevel::warning},
              {"40.00", MemoryPressureLevel::critical}, {"100.00", MemoryPressureLevel::critical}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.avg10);
    const QString path = home.writeFile("psi", QByteArray("some avg10=") + row.avg10 + " avg60=0 avg300=0 total=0\n");
    EXPECT_EQ(MemoryPressureReader::current(path), row.level);
  }
  EXPECT_EQ(MemoryPressureReader::current(home.path() + "/absent"), MemoryPressureLevel::unknown);
}

TEST(MemoryPressureReader, RawLevelsAndLikelyOOM) {
  const struct {
    qint64 raw;
    MemoryPressureLevel level;
    bool likelyOOM;
  } rows[] = {{0, MemoryPressureLevel::none, false},    {1, MemoryPressureLevel::normal, true},
              {2, MemoryPressureLevel::warning, true},  {3, MemoryPressureLevel::unknown, false},
              {4, MemoryPressureLevel::critical, true}, {5, MemoryPressureLevel::unknown, false},
              {-1, MemoryPressureLevel::unknown, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.raw);
    EXPECT_EQ(MemoryPressureReader::levelFromRaw(row.raw), row.level);
    EXPECT_EQ(MemoryPressureReader::likelyOOM(row.level), row.likelyOOM);
  }
}

}  // namespace
}  // namespace tlr
