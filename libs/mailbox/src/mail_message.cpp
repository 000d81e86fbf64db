#include "mailbox/mail_message.h"

#include "vmime_setup.h"

#include <QTimeZone>
#include <mutex>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/vmime.hpp>

namespace mailbox {

namespace detail {
void EnsureVmime() {
  static std::once_flag once;
  std::call_once(once, [] { vmime::platform::setHandler<vmime::platforms::posix::posixHandler>(); });
}
}  // namespace detail

namespace {

const vmime::charset& Utf8() {
  static const vmime::charset utf8(vmime::charsets::UTF_8);
  return utf8;
}

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString TextOf(const vmime::text& t) {
  try {
    return FromUtf8(t.getConvertedText(Utf8()));
  } catch (const std::exception&) {
    return FromUtf8(t.getWholeBuffer());
  }
}

// Bytes in a charset, as text; a charset no converter knows reads as ISO-8859-1.
QString Decode(const std::string& bytes, const vmime::charset& cs) {
  std::string out;
  try {
    vmime::charsetConverterOptions opts;
    opts.silentlyReplaceInvalidSequences = true;
    opts.invalidSequence = std::string(1, '?');
    vmime::charset::convert(bytes, out, cs, Utf8(), opts);
    return FromUtf8(out);
  } catch (const std::exception&) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
}

std::string Extract(const vmime::contentHandler& content) {
  std::string bytes;
  vmime::utility::outputStreamStringAdapter os(bytes);
  content.extract(os);
  return bytes;
}

QDateTime ToQt(const vmime::datetime& d) {
  const QDate date(d.getYear(), d.getMonth(), d.getDay());
  const QTime time(d.getHour(), d.getMinute(), d.getSecond());
  if (!date.isValid() || !time.isValid()) return {};
  return QDateTime(date, time, QTimeZone(d.getZone() * 60)).toLocalTime();
}

QString WithCrLf(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return text;
}

}  // namespace

MailMessage ParseMessage(const QByteArray& raw) {
  detail::EnsureVmime();
  MailMessage m;
  if (raw.trimmed().isEmpty()) {
    m.problem = QStringLiteral("it is empty");
    return m;
  }
  if (raw.size() > kMaxMessageBytes) {
    m.problem = QStringLiteral("it is too large to read");
    return m;
  }
  try {
    auto msg = vmime::make_shared<vmime::message>();
    msg->parse(std::string(raw.constData(), static_cast<size_t>(raw.size())));
    auto header = msg->getHeader();
    // A header with none of the fields every message has is not a message.
    if (!header->hasField(vmime::fields::FROM) && !header->hasField(vmime::fields::SUBJECT) &&
        !header->hasField(vmime::fields::DATE) && !header->hasField(vmime::fields::CONTENT_TYPE)) {
      m.problem = QStringLiteral("it is not a mail message");
      return m;
    }
    if (auto from = header->findField(vmime::fields::FROM)) {
      if (auto mbox = vmime::dynamicCast<const vmime::mailbox>(from->getValue())) {
        m.senderName = TextOf(mbox->getName()).trimmed();
        if (m.senderName.isEmpty()) m.senderName = FromUtf8(mbox->getEmail().toString());
      } else if (auto list = vmime::dynamicCast<const vmime::mailboxList>(from->getValue());
                 list && list->getMailboxCount() > 0) {
        auto first = list->getMailboxAt(0);
        m.senderName = TextOf(first->getName()).trimmed();
        if (m.senderName.isEmpty()) m.senderName = FromUtf8(first->getEmail().toString());
      }
    }
    if (auto subject = header->findField(vmime::fields::SUBJECT)) {
      if (auto t = vmime::dynamicCast<const vmime::text>(subject->getValue())) m.subject = TextOf(*t);
    }
    if (auto date = header->findField(vmime::fields::DATE)) {
      if (auto d = vmime::dynamicCast<const vmime::datetime>(date->getValue())) m.sent = ToQt(*d);
    }
    // The topmost Received field was added where the message was delivered.
    const auto received = header->findAllFields(vmime::fields::RECEIVED);
    if (!received.empty()) {
      if (auto r = vmime::dynamicCast<const vmime::relay>(received.front()->getValue()))
        m.received = ToQt(r->getDate());
    }

    vmime::messageParser parser(msg);
    QString html;
    bool havePlain = false;
    for (const auto& part : parser.getTextPartList()) {
      const vmime::mediaType& type = part->getType();
      if (type.getSubType() == vmime::mediaTypes::TEXT_PLAIN) {
        if (!havePlain) {
          m.body = Decode(Extract(*part->getText()), part->getCharset());
          havePlain = true;
        }
      } else if (type.getSubType() == vmime::mediaTypes::TEXT_HTML && html.isEmpty()) {
        auto htmlPart = vmime::dynamicCast<const vmime::htmlTextPart>(part);
        if (htmlPart && htmlPart->getPlainText() && !htmlPart->getPlainText()->isEmpty() && !havePlain) {
          m.body = Decode(Extract(*htmlPart->getPlainText()), part->getCharset());
          havePlain = true;
        }
        html = Decode(Extract(*part->getText()), part->getCharset());
      }
    }
    if (!havePlain && !html.isEmpty()) m.body = HtmlToText(html);
    m.body = WithCrLf(m.body);
  } catch (const std::exception& e) {
    m.problem = QStringLiteral("it could not be read (%1)").arg(QString::fromUtf8(e.what()));
  }
  return m;
}

}  // namespace mailbox
