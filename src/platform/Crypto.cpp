#include "platform/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace tlr::Crypto {
namespace {

struct CipherCtx {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  ~CipherCtx() { EVP_CIPHER_CTX_free(ctx); }
};

const unsigned char* bytes(QByteArrayView v) {
  return reinterpret_cast<const unsigned char*>(v.data());
}

}  // namespace

QByteArray sha256(QByteArrayView data) {
  Sha256 digest;
  digest.update(data);
  return digest.finish();
}

QString hex(QByteArrayView data) {
  return QString::fromLatin1(QByteArray(data.data(), data.size()).toHex());
}

struct Sha256::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::update(QByteArrayView piece) {
  if (!piece.isEmpty()) EVP_DigestUpdate(state_->ctx, piece.data(), static_cast<size_t>(piece.size()));
}

QByteArray Sha256::finish() {
  QByteArray out(32, '\0');
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->ctx, reinterpret_cast<unsigned char*>(out.data()), &length);
  out.truncate(static_cast<qsizetype>(length));
  return out;
}

QByteArray randomBytes(int count) {
  QByteArray out(count, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), count) != 1) return {};
  return out;
}

std::optional<QByteArray> chachaSeal(QByteArrayView key, QByteArrayView plaintext) {
  if (key.size() != kChaChaKeyBytes) return std::nullopt;
  const QByteArray nonce = randomBytes(kChaChaNonceBytes);
  if (nonce.size() != kChaChaNonceBytes) return std::nullopt;
  CipherCtx c;
  if (!c.ctx) return std::nullopt;
  QByteArray box(kChaChaBoxOverhead + plaintext.size(), '\0');
  auto* out = reinterpret_cast<unsigned char*>(box.data());
  std::copy(nonce.begin(), nonce.end(), box.begin());
  int len = 0;
  if (EVP_EncryptInit_ex(c.ctx, EVP_chacha20_poly1305(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_AEAD_SET_IVLEN, kChaChaNonceBytes, nullptr) != 1 ||
      EVP_EncryptInit_ex(c.ctx, nullptr, nullptr, bytes(key), out) != 1) {
    return std::nullopt;
  }
  if (!plaintext.isEmpty() &&
      EVP_EncryptUpdate(c.ctx, out + kChaChaNonceBytes, &len, bytes(plaintext),
                        static_cast<int>(plaintext.size())) != 1) {
    return std::nullopt;
  }
  int tail = 0;
  if (EVP_EncryptFinal_ex(c.ctx, out + kChaChaNonceBytes + len, &tail) != 1 ||
      EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_AEAD_GET_TAG, kChaChaTagBytes,
                          out + kChaChaNonceBytes + plaintext.size()) != 1) {
    return std::nullopt;
  }
  return box;
}

std::optional<QByteArray> chachaOpen(QByteArrayView key, QByteArrayView box) {
  if (key.size() != kChaChaKeyBytes || box.size() < kChaChaBoxOverhead) return std::nullopt;
  const qsizetype cipherLength = box.size() - kChaChaBoxOverhead;
  CipherCtx c;
  if (!c.ctx) return std::nullopt;
  QByteArray plain(cipherLength, '\0');
  auto* out = reinterpret_cast<unsigned char*>(plain.data());
  QByteArray tag(box.data() + kChaChaNonceBytes + cipherLength, kChaChaTagBytes);
  int len = 0;
  bool ok = EVP_DecryptInit_ex(c.ctx, EVP_chacha20_poly1305(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_AEAD_SET_IVLEN, kChaChaNonceBytes, nullptr) == 1 &&
            EVP_DecryptInit_ex(c.ctx, nullptr, nullptr, bytes(key), bytes(box)) == 1;
  if (ok && cipherLength > 0) {
    ok = EVP_DecryptUpdate(c.ctx, out, &len, bytes(box) + kChaChaNonceBytes,
                           static_cast<int>(cipherLength)) == 1;
  }
  ok = ok && EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_AEAD_SET_TAG, kChaChaTagBytes, tag.data()) == 1;
  int tail = 0;
  ok = ok && EVP_DecryptFinal_ex(c.ctx, out + len, &tail) == 1;
  if (!ok) {
    wipe(plain);
    return std::nullopt;
  }
  return plain;
}

void wipe(QByteArray& secret) {
  if (!secret.isEmpty()) OPENSSL_cleanse(secret.data(), static_cast<size_t>(secret.size()));
  secret.clear();
}

void wipe(QString& secret) {
  if (!secret.isEmpty()) {
    OPENSSL_cleanse(secret.data(), static_cast<size_t>(secret.size()) * sizeof(QChar));
  }
  secret.clear();
}

}  // namespace tlr::Crypto
