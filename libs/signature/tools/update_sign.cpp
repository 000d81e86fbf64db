// The release side of update signatures.
//   update-sign keygen SECRET_FILE   writes a new secret key (hex, owner-only) and prints the
//                                    public half to give the build (CHIMEWISE_UPDATE_PUBLIC_KEY)
//   update-sign sign SECRET_FILE FILE  writes FILE.sig, the detached signature (64 bytes)
//   update-sign verify PUBLIC_KEY FILE checks FILE against FILE.sig; exit status 0 when it holds

#include "signature/signature.h"

#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

int Usage() {
  std::fputs("usage: update-sign keygen SECRET_FILE | sign SECRET_FILE FILE | verify PUBLIC_KEY FILE\n", stderr);
  return 2;
}

bool ReadAll(const QString& path, QByteArray* out) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "update-sign: cannot read %s: %s\n", qPrintable(path), qPrintable(f.errorString()));
    return false;
  }
  *out = f.readAll();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const QString command = QString::fromLocal8Bit(argv[1]);
  if (command == QLatin1String("keygen") && argc == 3) {
    const signature::KeyPair pair = signature::GenerateKeyPair();
    QFile f(QString::fromLocal8Bit(argv[2]));
    if (pair.secretKey.isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        f.write(pair.secretKey.toHex() + '\n') < 0 || !f.flush()) {
      std::fprintf(stderr, "update-sign: cannot write a new key to %s\n", argv[2]);
      return 1;
    }
    std::printf("%s\n", pair.publicKey.toHex().constData());
    return 0;
  }
  if (command == QLatin1String("sign") && argc == 4) {
    QByteArray secretHex, message;
    if (!ReadAll(QString::fromLocal8Bit(argv[2]), &secretHex) || !ReadAll(QString::fromLocal8Bit(argv[3]), &message))
      return 1;
    const QByteArray sig = signature::Sign(message, QByteArray::fromHex(secretHex.trimmed()));
    QFile out(QString::fromLocal8Bit(argv[3]) + QStringLiteral(".sig"));
    if (sig.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(sig) != sig.size()) {
      std::fputs("update-sign: not a secret key, or the signature cannot be written\n", stderr);
      return 1;
    }
    return 0;
  }
  if (command == QLatin1String("verify") && argc == 4) {
    const auto key = signature::ParseKeyText(QString::fromLocal8Bit(argv[2]));
    QByteArray message, sigText;
    if (!key) return Usage();
    if (!ReadAll(QString::fromLocal8Bit(argv[3]), &message) ||
        !ReadAll(QString::fromLocal8Bit(argv[3]) + QStringLiteral(".sig"), &sigText))
      return 1;
    const auto sig = signature::ParseSignatureText(sigText);
    const bool ok = sig && signature::Verify(message, *sig, *key);
    std::puts(ok ? "good signature" : "BAD signature");
    return ok ? 0 : 1;
  }
  return Usage();
}
