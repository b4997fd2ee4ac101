#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

// Digests and the sealed box that keeps the backup password, over OpenSSL's
// libcrypto. Every function is safe on any thread.
namespace tlr::Crypto {

// SHA-256 of `data` (32 bytes).
QByteArray sha256(QByteArrayView data);
// Bytes as lower-case hexadecimal digits, two per byte, no separators.
QString hex(QByteArrayView bytes);

// An incremental SHA-256: feed pieces with update(), then take the digest
// once with finish().
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(QByteArrayView piece);
  // The 32-byte digest; the object is spent afterwards.
  QByteArray finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// `count` bytes from the system's cryptographic random source; empty when
// it fails.
QByteArray randomBytes(int count);

// ChaCha20-Poly1305 (RFC 8439) with a 32-byte key, a fresh random 12-byte
// nonce and no associated data. The box is laid out as
//   nonce (12) | ciphertext (as long as the plaintext) | tag (16).
inline constexpr int kChaChaKeyBytes = 32;
inline constexpr int kChaChaNonceBytes = 12;
inline constexpr int kChaChaTagBytes = 16;
inline constexpr int kChaChaBoxOverhead = kChaChaNonceBytes + kChaChaTagBytes;

// The sealed box of `plaintext`, or nothing when the key has the wrong
// length or the cipher fails.
std::optional<QByteArray> chachaSeal(QByteArrayView key, QByteArrayView plaintext);
// The plaintext of a box made by chachaSeal, or nothing when the box is too
// short to be one, the key is wrong or any byte was changed.
std::optional<QByteArray> chachaOpen(QByteArrayView key, QByteArrayView box);

// Overwrites the bytes of `secret` with zeros where they lie (in a way the
// compiler may not drop) and empties it. Qt shares data between copies: when
// another copy still shares it, only a private copy is wiped, so call this on
// the last holder.
void wipe(QByteArray& secret);
void wipe(QString& secret);

}  // namespace tlr::Crypto
