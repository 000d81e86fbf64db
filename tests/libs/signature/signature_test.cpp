#include <signature/signature.h>

#include <gtest/gtest.h>

namespace {

TEST(Signature, VerifiesOnlyTheSignedBytesUnderTheRightKey) {
  const signature::KeyPair pair = signature::GenerateKeyPair();
  ASSERT_EQ(pair.publicKey.size(), signature::kPublicKeyBytes);
  const QByteArray message("#!/bin/sh\necho installer\n");
  const QByteArray sig = signature::Sign(message, pair.secretKey);
  ASSERT_EQ(sig.size(), signature::kSignatureBytes);

  EXPECT_TRUE(signature::Verify(message, sig, pair.publicKey));
  QByteArray tampered = message;
  tampered[3] = 'X';
  EXPECT_FALSE(signature::Verify(tampered, sig, pair.publicKey));
  EXPECT_FALSE(signature::Verify(message + '\n', sig, pair.publicKey));
  EXPECT_FALSE(signature::Verify(message, sig, signature::GenerateKeyPair().publicKey));
  QByteArray badSig = sig;
  badSig[10] = char(badSig[10] ^ 1);
  EXPECT_FALSE(signature::Verify(message, badSig, pair.publicKey));
  EXPECT_FALSE(signature::Verify(message, sig.left(63), pair.publicKey));
  EXPECT_FALSE(signature::Verify(message, sig, pair.publicKey.left(31)));
  EXPECT_TRUE(signature::Sign(message, pair.secretKey.left(32)).isEmpty());
}

TEST(Signature, KeysAndSignaturesReadFromHexOrBase64) {
  const signature::KeyPair pair = signature::GenerateKeyPair();
  EXPECT_EQ(signature::ParseKeyText(QString::fromLatin1(pair.publicKey.toHex())), pair.publicKey);
  EXPECT_EQ(signature::ParseKeyText(" " + QString::fromLatin1(pair.publicKey.toHex().toUpper()) + "\n"),
            pair.publicKey);
  EXPECT_EQ(signature::ParseKeyText(QString::fromLatin1(pair.publicKey.toBase64())), pair.publicKey);
  EXPECT_FALSE(signature::ParseKeyText(QString::fromLatin1(pair.publicKey.toHex().left(62))));
  EXPECT_FALSE(signature::ParseKeyText(QString::fromLatin1(pair.publicKey.left(31).toBase64())));
  EXPECT_FALSE(signature::ParseKeyText(QStringLiteral("not a key at all")));
  EXPECT_FALSE(signature::ParseKeyText(QString()));

  const QByteArray sig = signature::Sign("m", pair.secretKey);
  EXPECT_EQ(signature::ParseSignatureText(sig), sig);
  EXPECT_EQ(signature::ParseSignatureText(sig.toHex() + "\n"), sig);
  EXPECT_EQ(signature::ParseSignatureText(sig.toBase64() + "\r\n"), sig);
  EXPECT_FALSE(signature::ParseSignatureText(sig.left(60)));
  EXPECT_FALSE(signature::ParseSignatureText(QByteArray(5000, 'a')));
}

}  // namespace
