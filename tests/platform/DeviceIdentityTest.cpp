#include "platform/Crypto.h"
#include "platform/DeviceIdentity.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

using namespace tlr;

TEST(DeviceIdentityMachineId, OnlyThirtyTwoHexDigitsMakeAUuid) {
  EXPECT_EQ(DeviceIdentity::uuidFromMachineId("0a1b2c3d4e5f60718293a4b5c6d7e8f9\n"),
            "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
  EXPECT_EQ(DeviceIdentity::uuidFromMachineId("  0a1b2c3d4e5f60718293a4b5c6d7e8f9  "),
            "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
  for (const QByteArray& bad : {QByteArray(""), QByteArray("uninitialized\n"),
                               QByteArray("0a1b2c3d4e5f60718293a4b5c6d7e8f"),
                               QByteArray("0a1b2c3d4e5f60718293a4b5c6d7e8f90"),
                               QByteArray("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"),
                               QByteArray("0a1b2c3d4e5f60718293a4b5c6d7e8fg")}) {
    EXPECT_FALSE(DeviceIdentity::uuidFromMachineId(bad)) << bad.toStdString();
  }
}

TEST(DeviceIdentityMachineId, TheFirstReadableFileDecides) {
  QTemporaryDir dir;
  auto write = [&](const QString& name, const QByteArray& content) {
    QFile f(dir.path() + "/" + name);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return f.fileName();
  };
  const QString good = write("good", "ffffffffffffffffffffffffffffffff\n");
  const QString bad = write("bad", "garbage\n");
  const QString missing = dir.path() + "/missing";
  EXPECT_EQ(DeviceIdentity::machineUuidFromFiles({missing, good}), "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");
  EXPECT_FALSE(DeviceIdentity::machineUuidFromFiles({bad, good}));
  EXPECT_FALSE(DeviceIdentity::machineUuidFromFiles({missing}));
}

TEST(DeviceIdentityNames, LoginNameComesFromTheUserDatabase) {
  const QByteArray saved = qgetenv("USER");
  qputenv("USER", "someone-else");
  const passwd* pw = ::getpwuid(::geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(DeviceIdentity::loginName(), QString::fromLocal8Bit(pw->pw_name));
  qputenv("USER", saved);
}

TEST(DeviceIdentityNames, PrettyHostNameIsUnquoted) {
  EXPECT_EQ(DeviceIdentity::prettyHostNameFrom("ICON_NAME=computer\nPRETTY_HOSTNAME=\"Lin's \\\"Box\\\"\"\n"),
            "Lin's \"Box\"");
  EXPECT_EQ(DeviceIdentity::prettyHostNameFrom("PRETTY_HOSTNAME='工作站'\n"), "工作站");
  EXPECT_EQ(DeviceIdentity::prettyHostNameFrom("PRETTY_HOSTNAME=plain\n"), "plain");
  EXPECT_EQ(DeviceIdentity::prettyHostNameFrom("CHASSIS=laptop\n"), "");
  EXPECT_FALSE(DeviceIdentity::hostDisplayName().isEmpty());
}

TEST(DeviceIdentityNames, OsVersionHasThreeNumbers) {
  EXPECT_EQ(DeviceIdentity::osVersionFromRelease("6.18.44-fc-v1300"), "Linux 6.18.44");
  EXPECT_EQ(DeviceIdentity::osVersionFromRelease("6.1.0-28-amd64"), "Linux 6.1.0");
  EXPECT_EQ(DeviceIdentity::osVersionFromRelease("6.14-rc2"), "Linux 6.14.0");
  EXPECT_EQ(DeviceIdentity::osVersionFromRelease("5.15.0.1.2"), "Linux 5.15.0");
  EXPECT_EQ(DeviceIdentity::osVersionFromRelease(""), "Linux 0.0.0");
}

TEST(CryptoSealedBox, OpensOnlyWithTheSameKeyAndUnchangedBytes) {
  const QByteArray key = Crypto::sha256("key");
  const QByteArray other = Crypto::sha256("other");
  const QByteArray plain = QString("密码 secret").toUtf8();
  const auto box = Crypto::chachaSeal(key, plain);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->size(), plain.size() + 28);
  EXPECT_EQ(Crypto::chachaOpen(key, *box), plain);
  EXPECT_NE(Crypto::chachaSeal(key, plain), box);  // a fresh nonce every time
  EXPECT_FALSE(Crypto::chachaOpen(other, *box));
  for (qsizetype i = 0; i < box->size(); ++i) {
    QByteArray flipped = *box;
    flipped[i] = char(flipped[i] ^ 0x01);
    EXPECT_FALSE(Crypto::chachaOpen(key, flipped)) << i;
  }
  EXPECT_FALSE(Crypto::chachaOpen(key, box->left(27)));
  const auto empty = Crypto::chachaSeal(key, "");
  ASSERT_TRUE(empty);
  EXPECT_EQ(Crypto::chachaOpen(key, *empty), QByteArray(""));
  EXPECT_FALSE(Crypto::chachaSeal(key.left(16), plain));
}

TEST(CryptoSealedBox, OpensAKnownAnswerBox) {
  // The key, nonce and plaintext of RFC 8439 2.8.2 without associated data:
  // the ciphertext is the RFC's, the tag was computed by another
  // implementation.
  const QByteArray key = QByteArray::fromHex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
  const QByteArray box = QByteArray::fromHex(
      "070000004041424344454647"
      "d31a8d34648e60db7b86afbc53ef7ec2a4aded51"
      "dbf3a3a6d05a122619b0d634be6b3475");
  EXPECT_EQ(Crypto::chachaOpen(key, box), QByteArray("Ladies and Gentlemen"));
}

TEST(CryptoWipe, ZeroesAndEmpties) {
  QByteArray secret("hunter2");
  Crypto::wipe(secret);
  EXPECT_TRUE(secret.isEmpty());
  QString text("hunter2");
  Crypto::wipe(text);
  EXPECT_TRUE(text.isEmpty());
}
