// Sizes, home-folder paths and web addresses as the sheets show and open them.
#include "core/system/DesktopOpen.h"
#include "core/system/WebAddress.h"
#include "core/texts/ByteSizeText.h"
#include "core/texts/HomePath.h"

#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <limits>

using tlr::decimalByteCount;

TEST(DecimalByteCount, UsesDecimalUnitsWithAPointAndDropsTrailingZeros) {
  EXPECT_EQ(decimalByteCount(1'500'000), "1.5 MB");
  EXPECT_EQ(decimalByteCount(999'400), "999 KB");
  EXPECT_EQ(decimalByteCount(2'345'678'901), "2.35 GB");
  EXPECT_EQ(decimalByteCount(1'000'000), "1 MB");
  EXPECT_EQ(decimalByteCount(12'340'000), "12.3 MB");
  EXPECT_EQ(decimalByteCount(2'300'000'000), "2.3 GB");
  EXPECT_EQ(decimalByteCount(2'000'000'000), "2 GB");
  EXPECT_EQ(decimalByteCount(2'005'000'000), "2.01 GB");
  EXPECT_EQ(decimalByteCount(2'050'000'000), "2.05 GB");
}

TEST(DecimalByteCount, AnythingBelowOneAndAHalfKilobytesIsOneKilobyte) {
  for (quint64 bytes : {1ULL, 2ULL, 499ULL, 500ULL, 1'000ULL, 1'499ULL}) EXPECT_EQ(decimalByteCount(bytes), "1 KB") << bytes;
  EXPECT_EQ(decimalByteCount(1'500), "2 KB");
  EXPECT_EQ(decimalByteCount(0), "0 KB");
}

TEST(DecimalByteCount, ACountThatRoundsUpToTheNextUnitIsShownInIt) {
  EXPECT_EQ(decimalByteCount(999'499), "999 KB");
  EXPECT_EQ(decimalByteCount(999'500), "1 MB");
  EXPECT_EQ(decimalByteCount(999'949'999), "999.9 MB");
  EXPECT_EQ(decimalByteCount(999'950'000), "1 GB");
  // Gigabytes are the largest unit; no overflow at the very top.
  EXPECT_EQ(decimalByteCount(5'000'000'000'000), "5000 GB");
  EXPECT_EQ(decimalByteCount(std::numeric_limits<quint64>::max()), "18446744073.71 GB");
}

TEST(HomePathDisplay, OnlyTheHomeFolderItselfOrAPathBelowItBecomesTilde) {
  using tlr::HomePath::abbreviate;
  EXPECT_EQ(abbreviate("/home/al/x", "/home/al"), "~/x");
  EXPECT_EQ(abbreviate("/home/al", "/home/al"), "~");
  EXPECT_EQ(abbreviate("/home/alice/x", "/home/al"), "/home/alice/x");
  EXPECT_EQ(abbreviate("/home/alice", "/home/al"), "/home/alice");
  EXPECT_EQ(abbreviate("/home/al/x", "/home/al/"), "~/x");
  EXPECT_EQ(abbreviate("/x", "/"), "/x");
  EXPECT_EQ(abbreviate("/x", ""), "/x");
}

TEST(HomePathDisplay, RegistryPathsAreExpandedThenShownAgainstTheCurrentHome) {
  tlr::test::TempHome home;
  const QString h = home.path();
  using tlr::HomePath::display;
  EXPECT_EQ(display("~/.agent"), "~/.agent");
  EXPECT_EQ(display("~"), "~");
  EXPECT_EQ(display(h + "/.agent/x"), "~/.agent/x");
  EXPECT_EQ(display(h + "ice/x"), h + "ice/x");
  EXPECT_EQ(display("/opt/agent"), "/opt/agent");
  EXPECT_EQ(display("~other/x"), "~other/x");
}

TEST(WebAddressRule, OnlyAbsoluteAddressesWithASchemeAreAccepted) {
  using tlr::WebAddress::parse;
  for (const char* ok : {"https://example.com", "http://localhost:3000/dash", "mailto:a@b.c", "vornel://open"})
    EXPECT_TRUE(parse(ok).has_value()) << ok;
  for (const char* bad : {"", "example.com", "/usr/share/doc", "www.example.com/x", "https:", "https://exa mple.com",
                          "://example.com", " https://example.com"})
    EXPECT_FALSE(parse(bad).has_value()) << bad;
}

TEST(WebAddressRule, OpeningGoesThroughTheDesktopOpenerAndAFailureIsHeardWithItsReason) {
  tlr::test::FakeBin bin;
  const QString record = bin.addRecorder("xdg-open");
  QObject context;
  std::optional<tlr::LocKey> refused;
  tlr::DesktopOpen::address("example.com", &context, [&](const tlr::LocKey& reason) { refused = reason; });
  ASSERT_TRUE(tlr::test::waitUntil([&] { return refused.has_value(); }));
  EXPECT_EQ(*refused, tlr::LocKey::alertOpenNotAnAddress());

  bool failed = false;
  tlr::DesktopOpen::address("https://example.com/get", &context, [&](const tlr::LocKey&) { failed = true; });
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).endsWith("--\n"); }));
  EXPECT_EQ(tlr::test::readFile(record), "https://example.com/get\n--\n");

  // No browser on this desktop: xdg-open ends with 3.
  bin.add("xdg-open", "exit 3\n");
  std::optional<tlr::LocKey> why;
  tlr::DesktopOpen::address("https://example.com/get", &context, [&](const tlr::LocKey& reason) { why = reason; });
  ASSERT_TRUE(tlr::test::waitUntil([&] { return why.has_value(); }));
  EXPECT_EQ(*why, tlr::LocKey::alertOpenerFailed(3));
  EXPECT_FALSE(failed) << "the page that opened was no failure";
}
