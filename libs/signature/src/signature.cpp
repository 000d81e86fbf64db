#include "signature/signature.h"

#include <sodium.h>

#include <mutex>

namespace signature {

namespace {

bool Ready() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = sodium_init() >= 0; });
  return ok;
}

bool IsHex(const QByteArray& s) {
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// Hex of exactly `bytes` bytes, or strict base64 of exactly `bytes` bytes.
std::optional<QByteArray> Decode(const QByteArray& text, int bytes) {
  const QByteArray t = text.trimmed();
  if (t.size() == 2 * bytes && IsHex(t)) return QByteArray::fromHex(t);
  const auto decoded = QByteArray::fromBase64Encoding(t, QByteArray::AbortOnBase64DecodingErrors);
  if (decoded && decoded.decoded.size() == bytes) return decoded.decoded;
  return std::nullopt;
}

}  // namespace

KeyPair GenerateKeyPair() {
  KeyPair pair;
  if (!Ready()) return pair;
  pair.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
  pair.secretKey.resize(crypto_sign_SECRETKEYBYTES);
  crypto_sign_keypair(reinterpret_cast<unsigned char*>(pair.publicKey.data()),
                      reinterpret_cast<unsigned char*>(pair.secretKey.data()));
  return pair;
}

QByteArray Sign(const QByteArray& message, const QByteArray& secretKey) {
  if (!Ready() || secretKey.size() != crypto_sign_SECRETKEYBYTES) return {};
  QByteArray sig(crypto_sign_BYTES, '\0');
  crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                       reinterpret_cast<const unsigned char*>(message.constData()), quint64(message.size()),
                       reinterpret_cast<const unsigned char*>(secretKey.constData()));
  return sig;
}

bool Verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey) {
  if (!Ready() || signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES) return false;
  return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                                     reinterpret_cast<const unsigned char*>(message.constData()),
                                     quint64(message.size()),
                                     reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}

std::optional<QByteArray> ParseKeyText(const QString& text) { return Decode(text.toLatin1(), kPublicKeyBytes); }

std::optional<QByteArray> ParseSignatureText(const QByteArray& contents) {
  if (contents.size() == kSignatureBytes) return contents;
  if (contents.size() > 1024) return std::nullopt;
  return Decode(contents, kSignatureBytes);
}

}  // namespace signature
