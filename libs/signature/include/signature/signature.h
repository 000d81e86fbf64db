#pragma once
// Ed25519 detached signatures (libsodium's one-shot crypto_sign_detached form).
//
// Keys and signatures travel as raw bytes here. Text forms (a key in a build setting, a signature
// file written by a release tool) are read by ParseKeyText and ParseSignatureText: either hex or
// base64, surrounding blanks ignored.

#include <QByteArray>
#include <QString>

#include <optional>

namespace signature {

inline constexpr int kPublicKeyBytes = 32;
inline constexpr int kSecretKeyBytes = 64;
inline constexpr int kSignatureBytes = 64;

struct KeyPair {
  QByteArray publicKey;  // 32 bytes
  QByteArray secretKey;  // 64 bytes (seed and public half, libsodium's layout)
};

// A fresh key pair (for tests and the release tooling).
KeyPair GenerateKeyPair();

// The detached signature of message under secretKey; empty when the key is not 64 bytes.
QByteArray Sign(const QByteArray& message, const QByteArray& secretKey);

// True only when signature is a valid Ed25519 signature of message under publicKey. Wrong
// lengths are simply not valid.
bool Verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey);

// A public key written as 64 hex digits or as base64 of 32 bytes; nullopt for anything else.
std::optional<QByteArray> ParseKeyText(const QString& text);

// A signature as stored in a signature file: the 64 raw bytes, or 128 hex digits, or base64 of
// 64 bytes (with or without a final line break); nullopt for anything else.
std::optional<QByteArray> ParseSignatureText(const QByteArray& contents);

}  // namespace signature
