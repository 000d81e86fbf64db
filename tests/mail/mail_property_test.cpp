// Generated MIME trees, seeded so any failure can be replayed: random nesting, types, charsets,
// transfer encodings (valid and broken), boundaries that match or not, headers or none, CR LF or
// LF, then random damage. The reader must not crash and what the character says must hold no
// control character but line ends and tabs, and no U+FFFD.
#include "mail/mail_rules.h"

#include <mailbox/mail_message.h>

#include <array>
#include <gtest/gtest.h>
#include <random>

using namespace chimewise;

namespace {

class MimeGenerator {
 public:
  explicit MimeGenerator(unsigned seed) : m_rng(seed) {}

  QByteArray Message() {
    m_eol = chance(20) ? "\n" : "\r\n";
    QByteArray m;
    if (!chance(10)) m += "From: " + headerText() + " <" + token() + "@example.org>" + m_eol;
    if (!chance(10)) m += "Subject: " + headerText() + m_eol;
    if (!chance(20)) m += "Date: Fri, 4 Dec 2026 15:45:00 +0100" + m_eol;
    m += "MIME-Version: 1.0" + m_eol + entity(0, true);
    if (chance(30)) m[pick(static_cast<int>(m.size()))] = static_cast<char>(pick(256));
    if (chance(20)) m.truncate(pick(static_cast<int>(m.size()) + 1));
    return m;
  }

 private:
  bool chance(int percent) { return pick(100) < percent; }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
  template <size_t N>
  QByteArray oneOf(const char* const (&options)[N]) {
    return options[pick(static_cast<int>(N))];
  }
  QByteArray token() {
    QByteArray t;
    for (int i = 0, n = 1 + pick(12); i < n; ++i) t += static_cast<char>('a' + pick(26));
    return t;
  }
  // Bytes of every kind: letters, controls, 8-bit, UTF-8 of U+FFFD and C1 controls, escapes.
  QByteArray noise(int length) {
    static const char* pieces[] = {"hello ",   "\x1b]0;title\x07",
                                   "\x1b[31m", "\xef\xbf\xbd",
                                   "\xc2\x9b", "\xff",
                                   "\t",       "\r",
                                   "\n",       "=",
                                   "=ZZ",      "=0",
                                   "=?",       "?=",
                                   "<b>",      "&#1;",
                                   "&#xFFFD;", "--",
                                   "\xc3\xa9", "\x80",
                                   " "};
    QByteArray b;
    while (b.size() < length) b += pick(23) == 0 ? QByteArray(1, '\0') : oneOf(pieces);
    return b;
  }
  static QByteArray qp(const QByteArray& raw, const QByteArray& keep = {}) {
    return raw.toPercentEncoding(keep).replace('%', '=');
  }
  QByteArray headerText() {
    QByteArray text = noise(pick(20)).replace('\r', ' ').replace('\n', ' ');
    if (!chance(50)) return text;
    const QByteArray word = noise(pick(16));
    return text + " =?" + oneOf(kCharsets) + (chance(50) ? "?B?" + word.toBase64() : "?Q?" + qp(word)) + "?=";
  }
  QByteArray textBody(const QByteArray& encoding) {
    const QByteArray raw = noise(pick(300));
    if (encoding == "base64") return chance(70) ? raw.toBase64() + m_eol : raw;  // sometimes not base64 at all
    return (encoding == "quoted-printable" ? qp(raw, " \t\r\n") : raw) + m_eol;
  }
  QByteArray entity(int depth, bool top) {
    static const char* textTypes[] = {"text/plain",     "text/html",     "text/enriched",
                                      "text",           "text/calendar", "application/octet-stream",
                                      "message/rfc822", "image/png",     "TEXT/PLAIN"};
    static const char* multiTypes[] = {"mixed", "alternative", "signed", "encrypted", "related", "x-odd"};
    static const char* encodings[] = {"7bit", "8bit", "binary", "quoted-printable", "base64", "x-uuencode", ""};
    if (depth < 60 && chance(depth < 5 ? 45 : 25)) {
      const QByteArray boundary = "b" + token() + QByteArray::number(depth);
      const QByteArray used = chance(15) ? "x" + token() : boundary;  // a boundary that does not match
      QByteArray body = "Content-Type: multipart/" + oneOf(multiTypes) + "; boundary=\"" + boundary + "\"" + m_eol +
                        m_eol + (chance(30) ? "Preamble " + noise(20) + m_eol : QByteArray());
      for (int i = 0, n = pick(4); i < n; ++i) body += "--" + used + m_eol + entity(depth + 1, false) + m_eol;
      if (!chance(20)) body += "--" + used + "--" + m_eol;
      return body + (chance(20) ? noise(30) : QByteArray());
    }
    const QByteArray encoding = oneOf(encodings);
    if (!top && chance(15)) return textBody(encoding);  // no header block at all
    QByteArray h;
    if (!chance(10))
      h += "Content-Type: " + oneOf(textTypes) + (chance(10) ? "" : "; charset=" + oneOf(kCharsets)) + m_eol;
    if (!encoding.isEmpty()) h += "Content-Transfer-Encoding: " + encoding + m_eol;
    if (chance(15)) h += "Content-Disposition: attachment; filename=\"" + token() + ".txt\"" + m_eol;
    return h + m_eol + textBody(encoding);
  }

  static constexpr const char* kCharsets[] = {"utf-8",   "us-ascii", "iso-8859-1", "koi8-r",
                                              "x-bogus", "utf-16",   "shift_jis",  "windows-1252"};
  std::mt19937 m_rng;
  QByteArray m_eol = "\r\n";
};

// The index of the first character that may not be spoken, or -1. The message's own body keeps its
// CR LF line ends; what is spoken has plain newlines.
qsizetype Forbidden(const QString& text, bool crLf = false) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t u = text[i].unicode();
    if (crLf && u == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    if (u == u'\n' || u == u'\t') continue;
    if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0xFFFD) return i;
  }
  return -1;
}

}  // namespace

TEST(MailProperty, GeneratedMimeTreesNeverCrashAndNeverPutControlCharactersIntoSpeech) {
  MailFlags all;
  all.sayWhen = all.sayWho = all.saySubject = all.sayBody = true;
  const std::array<bool, 4> fileFlags{true, true, true, true};
  const QDateTime now(QDate(2026, 12, 6), QTime(10, 41, 37));
  int withBody = 0, unreadable = 0;
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    const mailbox::MailMessage m = mailbox::ParseMessage(MimeGenerator(seed).Message());
    unreadable += !m.problem.isEmpty();
    withBody += !m.body.isEmpty();
    const MailItem item{m.sent.isValid() ? m.sent : now, m.senderName, m.subject, m.body, m.problem};
    QStringList spoken = AutomaticSpeech(item, all, now);
    spoken += ListedMessageSpeech(MessageFileLines(item, fileFlags, now), fileFlags, !m.problem.isEmpty());
    spoken << m.senderName << m.subject;
    for (const QString& text : spoken) {
      const qsizetype at = Forbidden(text);
      ASSERT_LT(at, 0) << "seed " << seed << ": U+" << std::hex << static_cast<int>(text[at].unicode()) << " in "
                       << text.toStdString();
    }
    ASSERT_LT(Forbidden(m.body, true), 0) << "seed " << seed;
    ASSERT_FALSE((m.senderName + m.subject).contains(u'\n') || (m.senderName + m.subject).contains(u'\r')) << seed;
  }
  EXPECT_GT(withBody, 1000);  // the generator made mostly readable mail with text
  EXPECT_LT(unreadable, 1500);
}

// Many parts, a header of nothing but "=?", lines of nothing but "--", HTML of unclosed tags.
TEST(MailProperty, WideAndHostileMessagesAreRead) {
  QByteArray wide, html;
  for (int i = 0; i < 1000; ++i)
    wide += "--b\r\nContent-Type: text/plain\r\n\r\nPart " + QByteArray::number(i) + "\r\n";
  while (html.size() < 100000) html += "<head><title>x<p>text<br>&amp; <b";
  const QByteArray messages[] = {
      "Subject: wide\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n" + wide + "--b--\r\n",
      "Subject: " + QByteArray(200000, '=').replace("==", "=?") + "\r\nContent-Type: multipart/mixed\r\n\r\n" +
          QByteArray(200000, '-').replace("-----", "--\r\n-"),
      "Subject: html\r\nContent-Type: text/html\r\n\r\n" + html};
  for (const QByteArray& raw : messages) EXPECT_EQ(mailbox::ParseMessage(raw).problem, "") << raw.left(20).data();
}
