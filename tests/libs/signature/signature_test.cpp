#include <signature/signature.h>

#include <gtest/gtest.h>

namespace {

using namespace signature;

TEST(Signature, VerifiesOnlyTheSignedBytesUnderTheRightKey) {
  const KeyPair pair = GenerateKeyPair();
  ASSERT_EQ(pair.publicKey.size(), kPublicKeyBytes);
  const QByteArray message("#!/bin/sh\necho installer\n");
  const QByteArray sig = Sign(message, pair.secretKey);
  ASSERT_EQ(sig.size(), kSignatureBytes);
  EXPECT_TRUE(Verify(message, sig, pair.publicKey));
  QByteArray badSig = sig;
  badSig[10] = char(badSig[10] ^ 1);
  EXPECT_FALSE(Verify("#!/bin/sX\necho installer\n", sig, pair.publicKey));
  EXPECT_FALSE(Verify(message, sig, GenerateKeyPair().publicKey));
  EXPECT_FALSE(Verify(message, badSig, pair.publicKey));
  EXPECT_FALSE(Verify(message, sig.left(63), pair.publicKey));
  EXPECT_FALSE(Verify(message, sig, pair.publicKey.left(31)));
  EXPECT_TRUE(Sign(message, pair.secretKey.left(32)).isEmpty());
}

TEST(Signature, KeysAndSignaturesReadFromHexOrBase64) {
  const QByteArray key = GenerateKeyPair().publicKey;
  for (const QString& text : {QString::fromLatin1(key.toHex()), " " + QString::fromLatin1(key.toHex().toUpper()) + "\n",
                              QString::fromLatin1(key.toBase64())})
    EXPECT_EQ(ParseKeyText(text), key) << text.toStdString();
  for (const QString& text : {QString::fromLatin1(key.toHex().left(62)), QString::fromLatin1(key.left(31).toBase64()),
                              QStringLiteral("not a key at all"), QString()})
    EXPECT_FALSE(ParseKeyText(text)) << text.toStdString();

  const QByteArray sig = Sign("m", GenerateKeyPair().secretKey);
  for (const QByteArray& text : {sig, sig.toHex() + "\n", sig.toBase64() + "\r\n"})
    EXPECT_EQ(ParseSignatureText(text), sig);
  EXPECT_FALSE(ParseSignatureText(sig.left(60)));
  EXPECT_FALSE(ParseSignatureText(QByteArray(5000, 'a')));
}

}  // namespace
