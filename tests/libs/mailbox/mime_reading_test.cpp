// Mail in the shapes it really arrives in (RFC 2045-2049, 2047, 2231, 3156, 5322) and broken ones.
#include <mailbox/mail_message.h>

#include <gtest/gtest.h>

using namespace mailbox;

namespace {

QByteArray Message(const QByteArray& contentType, const QByteArray& body, const QByteArray& extra = {}) {
  return "From: Ann Lee <ann@example.net>\r\nSubject: Test\r\nDate: Sat, 5 Dec 2026 19:30:00 +0100\r\n"
         "MIME-Version: 1.0\r\n" +
         extra + (contentType.isEmpty() ? QByteArray() : "Content-Type: " + contentType + "\r\n") + "\r\n" + body;
}

QString Body(const QByteArray& raw) {
  const MailMessage m = ParseMessage(raw);
  EXPECT_TRUE(m.problem.isEmpty()) << m.problem.toStdString();
  return m.body.trimmed();
}

QString From(const QByteArray& field) {
  return ParseMessage("From: " + field + "\r\nSubject: s\r\n\r\nx\r\n").senderName;
}

}  // namespace

// Which text a message's body is read from, and how it is decoded.
TEST(TextParts, TheBodyOfEachShapeOfMessage) {
  const QByteArray qp = "Content-Transfer-Encoding: quoted-printable\r\n",
                   b64 = "Content-Transfer-Encoding: base64\r\n";
  const struct {
    QByteArray type, body;
    const char* text;  // UTF-8
    QByteArray extra = {};
  } cases[] = {
      // RFC 2045 5.2: "text" alone, any text subtype and unreadable Content-Types are text/plain.
      {"text", "Plain words.\r\n", "Plain words."},
      {"TEXT/X-Anything; charset=utf-8", "Odd but text.\r\n", "Odd but text."},
      {"text/csv", "a,b\r\n1,2\r\n", "a,b\r\n1,2"},
      {"text/calendar; method=REQUEST", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n", "BEGIN:VCALENDAR\r\nEND:VCALENDAR"},
      {"/;;;", "Still text.\r\n", "Still text."},
      // RFC 1896: commands go, "<<" is "<", one line break is a space, two are one.
      {"text/enriched", "<bold>Now</bold> is\r\nthe <<time>.\r\n\r\n<param>x</param>Next\r\n",
       "Now is the <time>.\r\nNext"},
      {"text/html", "<p>One &amp; two</p><p>three</p>", "One & two\r\nthree"},
      // The first plain part, then HTML, then any text: HTML before plain still gives the plain.
      {"multipart/alternative; boundary=b",
       "--b\r\nContent-Type: text/html\r\n\r\n<p>HTML</p>\r\n--b\r\nContent-Type: text/plain\r\n\r\nPlain\r\n--b--\r\n",
       "Plain"},
      // A part with an empty header, or none at all, is text/plain; us-ascii (RFC 2046 5.1).
      {"multipart/alternative; boundary=b",
       "--b\r\n\r\nNo header here\r\n--b\r\nContent-Type: text/html\r\n\r\n<p>HTML</p>\r\n--b--\r\n", "No header here"},
      {"multipart/mixed; boundary=b",
       "--b\r\nNot a header line\r\nsecond line\r\n--b\r\nContent-Type: text/html\r\n\r\n<b>x</b>\r\n--b--\r\n",
       "Not a header line\r\nsecond line"},
      // Only HTML and a calendar: the HTML as text.
      {"multipart/mixed; boundary=b",
       "--b\r\nContent-Type: text/calendar\r\n\r\nBEGIN:VCALENDAR\r\n--b\r\nContent-Type: "
       "text/html\r\n\r\n<i>Invite</i>"
       "\r\n--b--\r\n",
       "Invite"},
      // A text attachment is the body only when nothing else has text.
      {"multipart/mixed; boundary=b",
       "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=a.txt\r\n\r\nAttached\r\n"
       "--b\r\nContent-Type: text/html\r\n\r\n<p>Body</p>\r\n--b--\r\n",
       "Body"},
      {"multipart/mixed; boundary=b",
       "--b\r\nContent-Type: image/png\r\n\r\n...\r\n--b\r\nContent-Type: text/plain\r\nContent-Disposition: "
       "attachment\r\n\r\nOnly this\r\n--b--\r\n",
       "Only this"},
      // The preamble and epilogue are no part (RFC 2046 5.1.1).
      {"multipart/mixed; boundary=b",
       "This is a MIME message.\r\n--b\r\nContent-Type: text/plain\r\n\r\nInside\r\n--b--\r\nAfter\r\n", "Inside"},
      // RFC 3156 5: multipart/signed (signed part, then signature) inside a mixed, as clients send it.
      {"multipart/mixed; boundary=outer",
       "--outer\r\nContent-Type: multipart/signed; micalg=pgp-sha256; protocol=\"application/pgp-signature\"; "
       "boundary=sig\r\n\r\n--sig\r\nContent-Type: multipart/alternative; boundary=alt\r\n\r\n"
       "--alt\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
       "Section one\r\n--alt\r\nContent-Type: text/html\r\n\r\n<p>Section one</p>\r\n--alt--\r\n"
       "--sig\r\nContent-Type: application/pgp-signature; name=signature.asc\r\n\r\n"
       "-----BEGIN PGP SIGNATURE-----\r\nabc\r\n-----END PGP SIGNATURE-----\r\n--sig--\r\n"
       "--outer\r\nContent-Type: text/plain\r\n\r\nSection two\r\n--outer--\r\n",
       "Section one"},
      // RFC 3156 4: multipart/encrypted has no text to read, but a text part beside it is found.
      {"multipart/mixed; boundary=o",
       "--o\r\nContent-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=e\r\n\r\n"
       "--e\r\nContent-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n--e\r\nContent-Type: "
       "application/octet-stream\r\n\r\n-----BEGIN PGP MESSAGE-----\r\n--e--\r\n"
       "--o\r\nContent-Type: text/plain\r\n\r\nReadable note\r\n--o--\r\n",
       "Readable note"},
      // RFC 2231: a boundary in sections, a charset given the encoded way.
      {"multipart/mixed; boundary*0=\"ab\"; boundary*1=\"cd\"",
       "--abcd\r\nContent-Type: text/plain; charset*=''ISO-8859-1\r\n\r\nCaf\xe9\r\n--abcd--\r\n", "Café"},
      {"text/plain; charset*0=\"ISO-8859\"; charset*1=\"-5\"", "\xbf\xe0\xd8\xd2\xd5\xe2\r\n", "Привет"},
      {"text/plain; charset=KOI8-R", "\xf0\xd2\xc9\xd7\xc5\xd4\r\n", "Привет"},
      {"text/plain; charset=\"windows-1252\"", "\x93quoted\x94 \x80 5\r\n", "“quoted” € 5"},
      // Declared US-ASCII but 8-bit: UTF-8 where it is, Windows-1252 where it is not.
      {"text/plain; charset=us-ascii", "Gr\xc3\xbc\xc3\x9f und K\xf6ln\r\n", "Grüß und Köln"},
      // Not base64 (blanks inside a line): the text it is.
      {"text/plain; charset=utf-8", "base64 body\r\n", "base64 body", "Content-Transfer-Encoding: BASE64\r\n"},
      // Base64 is decoded whatever charset is named: 8-bit bytes that are no UTF-8 read as Windows-1252.
      {"text/plain; charset=utf-8", "RGllIEdy9t9lIHBhc3N0Lg==\r\n", "Die Größe passt.", b64},
      {"text/plain", "RGllIEdy9t9lIHBhc3N0Lg==\r\n", "Die Größe passt.", b64},
      {"text/plain; charset=utf-8", "Zm9vIGJhcg==\r\n", "foo bar", b64},
      {"text/plain; charset=utf-8", "SGVsbG8s\r\nIHdvcmxk\r\n", "Hello, world", b64},
      // Blanks a gateway left at the ends of the lines are no part of the base64.
      {"text/plain; charset=utf-8", "SGVsbG8s \r\nIHdvcmxk\t \r\n", "Hello, world", b64},
      // "=UT" and "=8" are no escapes: kept as written. "=E9" is one, "=" at a line end a soft break.
      {"text/plain; charset=iso-8859-1", "charset=UTF8 is caf=E9 and a =\r\nsoft break=\r\n",
       "charset=UTF8 is café and a soft break", qp},
      // The header names one boundary, the body uses another: the parts are still parts.
      {"multipart/alternative; boundary=\"declared\"",
       "--actual\r\nContent-Type: text/plain\r\n\r\nThe text\r\n"
       "--actual\r\nContent-Type: text/html\r\n\r\n<p>The HTML</p>\r\n--actual--\r\n",
       "The text"},
      // No boundary at all, and no part shape: the text without the delimiter-shaped lines.
      {"multipart/mixed", "--zzz\r\nJust words\r\n--zzz--\r\n", "Just words"},
      // Missing closing delimiter: the last part runs to the end.
      {"multipart/mixed; boundary=b", "--b\r\nContent-Type: text/plain\r\n\r\nCut short\r\n", "Cut short"},
      // A nested multipart that reuses its parent's boundary is empty; the text after it is the body.
      {"multipart/mixed; boundary=\"same\"",
       "--same\r\nContent-Type: multipart/alternative; boundary=\"same\"\r\n\r\n\r\n--same\r\nContent-Type: "
       "text/plain\r\n\r\nAfter the empty one\r\n--same\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n--same--\r\n",
       "After the empty one"},
      // LF line ends throughout, as some stores keep them.
      {"multipart/mixed; boundary=b", "--b\nContent-Type: text/plain\n\nLF only\n--b--\n", "LF only"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.left(60).toStdString());
    EXPECT_EQ(Body(Message(c.type, c.body, c.extra)), QString::fromUtf8(c.text));
  }
  // Base64 letters whose bytes are no text (a picture, a word that only looks like base64) are
  // text that cannot be read, never the letters.
  for (const QByteArray& letters : {QByteArray("R0lGODlhZAAEAIAAAABmmcw=\r\n"), QByteArray("Tschuess\r\n")}) {
    const MailMessage m = ParseMessage(Message("text/plain; charset=utf-8", letters, b64));
    EXPECT_TRUE(m.textUnreadable && m.body.isEmpty() && m.problem.isEmpty()) << m.body.toStdString();
  }
  EXPECT_FALSE(ParseMessage(Message("text/plain", "Zm9vIGJhcg==\r\n", b64)).textUnreadable);
  // A type that is no text is not read, and that is no failure either.
  const MailMessage m = ParseMessage(Message("application/pdf", "%PDF-1.4\r\n"));
  EXPECT_TRUE(m.problem.isEmpty());
  EXPECT_TRUE(m.body.isEmpty());
}

// However control characters come (raw, quoted-printable, entities), only tabs and line ends stay.
TEST(BrokenMail, ControlCharactersHoweverTheyComeStayOut) {
  EXPECT_EQ(Body(Message("text/plain; charset=utf-8", "a=00b=1B]0;title=07c=0Dd\tend =EF=BF=BD=FF\r\n",
                         "Content-Transfer-Encoding: quoted-printable\r\n")),
            QString::fromUtf8("a b ]0;title c\r\nd\tend ÿ"));
  EXPECT_EQ(Body(Message("text/html", "<p>x&#1;y&#27;z&#xFFFD;&#x9b;</p>")), "x y z");
  QByteArray raw = "From: A\x1b[31m B <a@b.c>\r\nSubject: Hi\x07";
  raw += '\0';
  raw += "there\r\n\r\nBody\x1b";
  raw += '\0';
  raw += "\r\n";
  const MailMessage m = ParseMessage(raw);
  EXPECT_EQ(m.senderName + "|" + m.subject + "|" + m.body, "A [31m B|Hi  there|Body  \r\n");
}

TEST(Senders, AsAPersonWouldSayThem) {
  // RFC 2047 names in any charset, with or without an address.
  EXPECT_EQ(From("=?koi8-r?B?8NLJ18XU?="), QString::fromUtf8("Привет"));
  EXPECT_EQ(From("=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>"), QString::fromUtf8("André Pirard"));
  // Adjacent encoded words join without a blank (RFC 2047 6.2); a Q escape may start with 0.
  EXPECT_EQ(From("=?UTF-8?B?SsO8?= =?UTF-8?B?cmdlbg==?= <j@x.de>"), QString::fromUtf8("Jürgen"));
  EXPECT_EQ(From("=?UTF-8?Q?J=C3?= =?UTF-8?Q?=BCrgen?= <j@x.de>"), QString::fromUtf8("Jürgen"));
  EXPECT_EQ(From("=?ISO-8859-1?Q?Tab=09b=A0c?= <j@x.de>"), QString("Tab b c"));
  // Bare words are not completed with any host name; a bare address is itself.
  EXPECT_EQ(From("foo"), "foo");
  EXPECT_EQ(From("sales@example.com"), "sales@example.com");
  EXPECT_EQ(From("<sales@example.com>"), "sales@example.com");
  // Quotes: empty ones, escaped ones, commas inside; old-style comment names (RFC 5322 3.4).
  EXPECT_EQ(From("\"\" Angles \" Puglisi\" <a@b.c>"), "Angles Puglisi");
  EXPECT_EQ(From("\"Lee, Ann \\\"Annie\\\"\" <ann@example.net>, bob@example.net"), "Lee, Ann \"Annie\"");
  EXPECT_EQ(From("ann@example.net (Ann Lee)"), "Ann Lee");
  EXPECT_EQ(From("'Ann Lee' <ann@example.net>"), "Ann Lee");
  EXPECT_EQ(From("\"=?utf-8?Q?Caf=C3=A9?=\" <c@x.fr>"), QString::fromUtf8("Café"));
  EXPECT_EQ(From("Friends: ann@example.net, bob@example.net;"), "ann@example.net");
  EXPECT_EQ(From("undisclosed-recipients:;"), "undisclosed-recipients");
  // Two senders where there should be one (a second From field, a missing comma): the first.
  EXPECT_EQ(From("\r\nFrom: Ann Lee <ann@x.org>\r\nFrom: Bob Roe <bob@y.org>"), "Ann Lee");
  EXPECT_EQ(From("Ann Lee <ann@x.org> Bob Roe <bob@y.org>"), "Ann Lee");
  EXPECT_EQ(From("<ann@x.org> (Ann Lee)"), "Ann Lee");
  EXPECT_EQ(From("ann@x.org bob@y.org"), "ann@x.org");
  // A header of other mail fields is still a message.
  EXPECT_TRUE(ParseMessage("To: me@example.org\r\nMessage-ID: <1@x>\r\n\r\nHi\r\n").problem.isEmpty());
  const MailMessage m = ParseMessage("Subject: anonymous\r\n\r\nHello\r\n");  // no From at all
  EXPECT_EQ(m.problem + "|" + m.senderName + "|" + m.body, "||Hello\r\n");
}

TEST(Dates, TheFormsRfc5322AndItsObsoleteSyntaxAllow) {
  const auto sent = [](const QByteArray& date) {
    return ParseMessage("Subject: s\r\nDate: " + date + "\r\n\r\n").sent.toUTC();
  };
  const QDateTime expected(QDate(2026, 12, 4), QTime(14, 45), Qt::UTC);
  EXPECT_EQ(sent("Fri, 4 Dec 2026 15:45:00 +0100"), expected);
  EXPECT_EQ(sent("4 Dec 2026 09:45 EST"), expected);
  EXPECT_EQ(sent("Friday, 04 December 2026 14:45:00 GMT (UTC)"), expected);
  EXPECT_EQ(sent("Fri, 4 Dec 26 14:45:00 +0000"), expected);
  EXPECT_FALSE(sent("next Tuesday").isValid());
  EXPECT_FALSE(sent("Fri, 31 Feb 2026 10:00:00 +0000").isValid());
  // The delivery time is the topmost Received field's date.
  const MailMessage m = ParseMessage(
      "Received: from a by b; Sat, 5 Dec 2026 10:00:00 +0000\r\nReceived: from c by a; Sat, 5 Dec 2026 09:59:00 "
      "+0000\r\nSubject: s\r\n\r\n");
  EXPECT_EQ(m.received.toUTC(), QDateTime(QDate(2026, 12, 5), QTime(10, 0), Qt::UTC));
}

// kMaxMimeNesting levels are read; deeper is refused (4,000 once overflowed the stack), keeping the rest.
TEST(Nesting, DeepMessagesAreRefusedAndShallowOnesRead) {
  const auto nested = [](int levels) {
    QByteArray head, tail;
    for (int i = 0; i < levels; ++i) {
      head += "--b" + QByteArray::number(i) + "\r\nContent-Type: multipart/mixed; boundary=b" +
              QByteArray::number(i + 1) + "\r\n\r\n";
      tail.prepend("--b" + QByteArray::number(i) + "--\r\n");
    }
    const QByteArray last = "--b" + QByteArray::number(levels);
    return Message("multipart/mixed; boundary=b0",
                   head + last + "\r\nContent-Type: text/plain\r\n\r\nDeep inside\r\n" + last + "--\r\n" + tail);
  };
  EXPECT_EQ(Body(nested(kMaxMimeNesting - 1)), "Deep inside");
  for (int levels : {kMaxMimeNesting, 4000}) {
    const MailMessage m = ParseMessage(nested(levels));
    EXPECT_EQ(m.problem, QStringLiteral("its parts are nested more than 50 deep"));
    EXPECT_EQ(m.subject, "Test");
  }
}

// Many parts, a header of nothing but "=?", lines of nothing but "--", HTML of unclosed tags.
TEST(Nesting, WideAndHostileMessagesAreRead) {
  QByteArray wide, html;
  for (int i = 0; i < 1000; ++i)
    wide += "--b\r\nContent-Type: text/plain\r\n\r\nPart " + QByteArray::number(i) + "\r\n";
  while (html.size() < 100000) html += "<head><title>x<p>text<br>&amp; <b";
  const QByteArray messages[] = {
      "Subject: wide\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n" + wide + "--b--\r\n",
      "Subject: " + QByteArray(200000, '=').replace("==", "=?") + "\r\nContent-Type: multipart/mixed\r\n\r\n" +
          QByteArray(200000, '-').replace("-----", "--\r\n-"),
      "Subject: html\r\nContent-Type: text/html\r\n\r\n" + html};
  for (const QByteArray& raw : messages) EXPECT_EQ(ParseMessage(raw).problem, "") << raw.left(20).data();
}
