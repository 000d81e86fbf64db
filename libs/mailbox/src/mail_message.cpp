// Reading one message. The header and the MIME structure (RFC 5322, RFC 2045-2049) are read here
// by hand, in one pass per nesting level and with limits on depth and part count, so no message
// can exhaust the stack or take more than linear time; vmime only converts charsets.
//
// Which text is the body: in reading order (depth first, as the parts stand), the first
// text/plain part; else the first text/html part, as text; else the first text part of any other
// subtype (text/enriched as text, text/calendar, text/csv, ... as they are). Parts marked as
// attachments are considered only when no other part has text. Parts are found inside every
// multipart, multipart/signed and multipart/encrypted (RFC 3156) included; message/rfc822 parts
// are attachments of their own and are not read.

#include "mailbox/mail_message.h"

#include "mime_text.h"
#include "vmime_setup.h"

#include <QHash>
#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
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

using detail::CleanLine;
using detail::CleanText;
using detail::DecodeCharset;
using detail::DecodeEncodedWords;

// More parts than this in one message are not looked at.
constexpr int kMaxParts = 10000;
// Header fields kept per header; more are passed over.
constexpr size_t kMaxFields = 1000;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// The next line from pos, without its line end (CR LF or LF); false at the end.
bool NextLine(std::string_view s, size_t& pos, std::string_view& line) {
  if (pos >= s.size()) return false;
  const size_t nl = s.find('\n', pos);
  const size_t end = nl == std::string_view::npos ? s.size() : nl;
  line = s.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos = nl == std::string_view::npos ? s.size() : nl + 1;
  return true;
}

struct Header {
  std::vector<std::pair<std::string, std::string>> fields;  // lower-case name, unfolded value
  const std::string* find(std::string_view name) const {
    for (const auto& f : fields)
      if (f.first == name) return &f.second;
    return nullptr;
  }
};

// Where a header field starts: a name of printable characters, perhaps blanks, then a colon.
bool FieldStart(std::string_view line, std::string_view* name, std::string_view* value) {
  size_t i = 0;
  while (i < line.size() && line[i] > 32 && line[i] < 127 && line[i] != ':') ++i;
  if (i == 0) return false;
  size_t j = i;
  while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
  if (j >= line.size() || line[j] != ':') return false;
  *name = line.substr(0, i);
  *value = line.substr(j + 1);
  return true;
}

// Splits an entity into its header and its body. The header ends at the first empty line; an
// entity whose first line is no header field has no header at all (RFC 2046 5.1: its type is the
// default), and a line that is neither ends the header there.
void SplitEntity(std::string_view entity, Header& h, std::string_view& body) {
  size_t pos = 0;
  std::string_view line;
  bool keeping = false;  // the last field started was kept, so continuation lines go to it
  while (true) {
    const size_t start = pos;
    if (!NextLine(entity, pos, line)) {
      body = {};
      return;
    }
    if (line.empty()) {
      body = entity.substr(pos);
      return;
    }
    if ((line[0] == ' ' || line[0] == '\t') && !h.fields.empty()) {
      if (keeping) h.fields.back().second.append(line);
      continue;
    }
    std::string_view name, value;
    if (!FieldStart(line, &name, &value)) {
      body = entity.substr(start);
      return;
    }
    keeping = h.fields.size() < kMaxFields;
    if (keeping) h.fields.emplace_back(Lower(name), std::string(Trim(value)));
  }
}

struct ContentType {
  std::string type = "text";
  std::string subtype = "plain";
  std::map<std::string, std::string> params;  // lower-case names; RFC 2231 sections joined
  std::string param(const std::string& name) const {
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
  }
};

bool IsTokenChar(char c) {
  return c > 32 && c < 127 && std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

// "type/subtype; name=value; name*0*=utf-8''a%20b; ..." (RFC 2045 5.1, RFC 2231). What cannot be
// read keeps the default; a type without a subtype takes its usual one ("text" is text/plain).
ContentType ParseContentType(const std::string* value, const ContentType& fallback) {
  if (!value) return fallback;
  const std::string_view v = *value;
  // Split at semicolons outside quoted strings.
  std::vector<std::string_view> pieces;
  {
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i < v.size(); ++i) {
      if (quoted && v[i] == '\\') {
        ++i;
      } else if (v[i] == '"') {
        quoted = !quoted;
      } else if (v[i] == ';' && !quoted) {
        pieces.push_back(v.substr(start, i - start));
        start = i + 1;
      }
    }
    pieces.push_back(v.substr(start));
  }
  ContentType ct = fallback;
  ct.params.clear();
  std::string_view media = Trim(pieces[0]);
  if (const size_t comment = media.find('('); comment != std::string_view::npos) media = Trim(media.substr(0, comment));
  const size_t slash = media.find('/');
  const std::string type = Lower(Trim(media.substr(0, slash)));
  const std::string subtype = slash == std::string_view::npos ? std::string() : Lower(Trim(media.substr(slash + 1)));
  const bool typeOk = !type.empty() && std::all_of(type.begin(), type.end(), IsTokenChar) &&
                      std::all_of(subtype.begin(), subtype.end(), IsTokenChar);
  if (typeOk) {
    ct.type = type;
    ct.subtype = subtype;
    if (ct.subtype.empty()) ct.subtype = type == "text" ? "plain" : type == "multipart" ? "mixed" : "";
  }
  struct Section {
    std::string value;
    bool encoded = false;
  };
  std::map<std::string, std::map<int, Section>> sections;
  for (size_t p = 1; p < pieces.size() && p < 100; ++p) {
    const std::string_view piece = Trim(pieces[p]);
    const size_t eq = piece.find('=');
    if (eq == std::string_view::npos) continue;
    std::string name = Lower(Trim(piece.substr(0, eq)));
    std::string_view raw = Trim(piece.substr(eq + 1));
    std::string val;
    if (!raw.empty() && raw.front() == '"') {
      for (size_t i = 1; i < raw.size() && raw[i] != '"'; ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
        val += raw[i];
      }
    } else {
      val = std::string(raw);
    }
    // RFC 2231: "name*" is encoded, "name*N" a section, "name*N*" an encoded section.
    bool encoded = false;
    int index = 0;
    if (!name.empty() && name.back() == '*') {
      encoded = true;
      name.pop_back();
    }
    if (const size_t star = name.find('*'); star != std::string::npos) {
      bool ok = false;
      index = QByteArray::fromStdString(name.substr(star + 1)).toInt(&ok);
      if (!ok || index < 0 || index > 999) continue;
      name.resize(star);
    }
    sections[name][index] = {val, encoded};
  }
  for (const auto& [name, parts] : sections) {
    std::string joined;
    bool first = true;
    for (const auto& [index, s] : parts) {
      std::string_view text = s.value;
      if (s.encoded && first) {
        // charset'language'value: the charset matters little for the parameters read here.
        const size_t q1 = text.find('\'');
        const size_t q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) text = text.substr(q2 + 1);
      }
      if (s.encoded)
        joined +=
            QByteArray::fromPercentEncoding(QByteArray(text.data(), static_cast<qsizetype>(text.size()))).toStdString();
      else
        joined += text;
      first = false;
    }
    ct.params[name] = joined;
  }
  return ct;
}

// A delimiter line of the boundary: "--" boundary, perhaps "--" (the last one), then only blanks.
bool IsDelimiter(std::string_view line, std::string_view delimiter, bool* close) {
  if (line.size() < delimiter.size() || line.substr(0, delimiter.size()) != delimiter) return false;
  std::string_view rest = line.substr(delimiter.size());
  *close = rest.size() >= 2 && rest[0] == '-' && rest[1] == '-';
  if (*close) rest.remove_prefix(2);
  return Trim(rest).empty();
}

// The parts of a multipart body (RFC 2046 5.1.1); none when no delimiter line is found. A body
// without its closing delimiter ends its last part at its own end. The line end before a
// delimiter belongs to the delimiter.
std::vector<std::string_view> SplitMultipart(std::string_view body, const std::string& boundary) {
  std::vector<std::string_view> parts;
  if (boundary.empty()) return parts;
  const std::string delimiter = "--" + boundary;
  size_t pos = 0;
  std::string_view line;
  bool inPart = false;
  size_t partStart = 0;
  while (true) {
    const size_t lineStart = pos;
    if (!NextLine(body, pos, line)) break;
    bool close = false;
    if (!IsDelimiter(line, delimiter, &close)) continue;
    if (inPart) {
      size_t end = lineStart;
      if (end > partStart && body[end - 1] == '\n') --end;
      if (end > partStart && body[end - 1] == '\r') --end;
      parts.push_back(body.substr(partStart, end - partStart));
      if (parts.size() >= static_cast<size_t>(kMaxParts)) return parts;
    }
    if (close) return parts;
    inPart = true;
    partStart = pos;
  }
  if (inPart) parts.push_back(body.substr(partStart));
  return parts;
}

bool LooksLikeBoundaryLine(std::string_view line, std::string* boundary) {
  if (line.size() < 3 || line[0] != '-' || line[1] != '-') return false;
  std::string_view token = Trim(line.substr(2));
  if (token.size() >= 2 && token.substr(token.size() - 2) == "--") token.remove_suffix(2);
  if (token.empty() || token.size() > 200) return false;
  if (std::all_of(token.begin(), token.end(), [](char c) { return c == '-'; })) return false;
  if (!std::all_of(token.begin(), token.end(), [](char c) { return c > 32 && c < 127; })) return false;
  *boundary = std::string(token);
  return true;
}

// The boundary a multipart body really uses when it is not the one its header names: the first
// line shaped like a delimiter that is followed by a MIME part header.
std::string GuessBoundary(std::string_view body) {
  size_t pos = 0;
  std::string_view line;
  while (NextLine(body, pos, line)) {
    std::string candidate;
    if (!LooksLikeBoundaryLine(line, &candidate)) continue;
    std::string_view next;
    size_t after = pos;
    if (NextLine(body, after, next) && next.size() > 8 && Lower(next.substr(0, 8)) == "content-") return candidate;
  }
  return {};
}

// A body read as text with every delimiter-shaped line left out.
std::string WithoutBoundaryLines(std::string_view body) {
  std::string out;
  size_t pos = 0;
  std::string_view line;
  while (NextLine(body, pos, line)) {
    std::string ignored;
    if (LooksLikeBoundaryLine(line, &ignored)) continue;
    out.append(line);
    out += '\n';
  }
  return out;
}

enum TextKind { kPlain, kHtml, kOtherText, kKinds };

struct TextPart {
  bool found = false;
  ContentType type;
  std::string transferEncoding;
  std::string_view body;
  std::optional<std::string> ownBody;  // text made here (a multipart read without its boundaries)
};

// Walks the MIME tree depth first, remembering the first text part of each kind.
class MimeWalk {
 public:
  // [kind][attachment]
  TextPart found[kKinds][2];
  bool tooDeep = false;

  void Entity(const Header& h, std::string_view body, int depth, const ContentType& fallback) {
    if (tooDeep || ++m_parts > kMaxParts) return;
    const ContentType ct = ParseContentType(h.find("content-type"), fallback);
    if (ct.type == "multipart") {
      if (depth >= kMaxMimeNesting) {
        tooDeep = true;
        return;
      }
      ContentType inner;  // RFC 2046 5.1: text/plain; in a digest, message/rfc822
      if (ct.subtype == "digest") inner.type = "message", inner.subtype = "rfc822";
      std::vector<std::string_view> parts = SplitMultipart(body, ct.param("boundary"));
      if (parts.empty()) parts = SplitMultipart(body, GuessBoundary(body));
      if (parts.empty()) {
        // Read as text only when there is text: an empty multipart (a nested one that reuses
        // its parent's boundary leaves one) must not stand in for the parts after it.
        std::string text = WithoutBoundaryLines(body);
        if (!Trim(text).empty()) Remember(kPlain, false, ContentType(), std::string(), body, std::move(text));
        return;
      }
      for (std::string_view part : parts) {
        Header ph;
        std::string_view pb;
        SplitEntity(part, ph, pb);
        Entity(ph, pb, depth + 1, inner);
        if (tooDeep) return;
      }
      return;
    }
    if (ct.type != "text") return;
    const TextKind kind = ct.subtype == "plain" ? kPlain : ct.subtype == "html" ? kHtml : kOtherText;
    const std::string* disposition = h.find("content-disposition");
    const bool attachment = disposition && Lower(Trim(*disposition)).rfind("attachment", 0) == 0;
    const std::string* cte = h.find("content-transfer-encoding");
    Remember(kind, attachment, ct, cte ? Lower(Trim(*cte)) : std::string(), body, std::nullopt);
  }

 private:
  void Remember(TextKind kind, bool attachment, const ContentType& ct, const std::string& cte, std::string_view body,
                std::optional<std::string> own) {
    TextPart& slot = found[kind][attachment ? 1 : 0];
    if (slot.found) return;
    slot.found = true;
    slot.type = ct;
    slot.transferEncoding = cte;
    slot.body = body;
    slot.ownBody = std::move(own);
  }
  int m_parts = 0;
};

// Whether decoded bytes can be text in this charset: no control character text does not have,
// and where the charset is UTF-8, US-ASCII or none, UTF-8 or mostly ASCII (8-bit text in another
// charset that was never named). A picture or a word that only looked like base64 is neither.
bool LooksLikeText(std::string_view bytes, const std::string& charset) {
  const bool controls = std::any_of(bytes.begin(), bytes.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x09 || (b > 0x0D && b < 0x20 && b != 0x1B);
  });
  if (controls) return false;
  if (!detail::IsUtf8Charset(charset) ||
      QUtf8StringView(bytes.data(), static_cast<qsizetype>(bytes.size())).isValidUtf8())
    return true;
  const auto high =
      std::count_if(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
  return high * 10 <= static_cast<std::ptrdiff_t>(bytes.size()) * 3;
}

// Whether a body is made of base64 letters only, line by line (blanks a gateway left at the line
// ends aside).
bool Base64Letters(std::string_view raw) {
  size_t pos = 0;
  std::string_view line;
  while (NextLine(raw, pos, line)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    for (const char c : line)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') return false;
  }
  return true;
}

// A text part's text: its transfer encoding undone, its charset read (a charset that does not fit
// the bytes reads as Windows-1252), HTML and enriched text made plain. None when the part holds
// no text that can be read: base64 letters whose bytes are no text (a picture behind a text label).
std::optional<QString> TextOf(const TextPart& part) {
  const std::string_view raw = part.ownBody ? std::string_view(*part.ownBody) : part.body;
  std::string bytes;
  if (part.transferEncoding == "quoted-printable") {
    bytes = detail::DecodeQuotedPrintable(raw);
  } else if (part.transferEncoding == "base64" && Base64Letters(raw)) {
    // Base64 letters are never read out as they are: decoded, strictly where the padding allows,
    // else skipping what does not belong (padding in the middle where parts were joined).
    if (!detail::DecodeBase64Strict(raw, &bytes)) bytes = detail::DecodeBase64Lenient(raw);
    if (!LooksLikeText(bytes, part.type.param("charset"))) return std::nullopt;
  } else {
    // Not encoded, or labelled base64 but plainly no base64: the text it is.
    bytes = std::string(raw);
  }
  QString text = DecodeCharset(bytes, part.type.param("charset"));
  if (part.type.subtype == "html")
    text = HtmlToText(text);
  else if (part.type.subtype == "enriched" || part.type.subtype == "richtext")
    text = detail::EnrichedToText(text);
  return text;
}

// RFC 5322 3.3 with the obsolete forms of 4.3: "[Day,] D Mon YYYY HH:MM[:SS] zone". Invalid when
// the text is no date.
QDateTime ParseDate(std::string_view value) {
  static const QRegularExpression date(
      QStringLiteral("^\\s*(?:[A-Za-z]+\\.?\\s*,?\\s*)?(\\d{1,2})[\\s-]+([A-Za-z]{3})[A-Za-z]*\\.?[\\s-]+(\\d{2,4})\\s+"
                     "(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?(?:\\.\\d+)?\\s*([+-]\\d{4}|[A-Za-z]{1,5})?"));
  const QString text = QString::fromLatin1(value.data(), static_cast<qsizetype>(std::min<size_t>(value.size(), 200)));
  const QRegularExpressionMatch m = date.match(text);
  if (!m.hasMatch()) return {};
  static const QStringList months{"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  const int month = static_cast<int>(months.indexOf(m.captured(2).toLower())) + 1;
  int year = m.captured(3).toInt();
  if (m.captured(3).size() == 2) year += year < 50 ? 2000 : 1900;
  if (m.captured(3).size() == 3) year += 1900;
  const int second = std::min(m.captured(6).toInt(), 59);  // a leap second counts as :59
  const QDate d(year, month, m.captured(1).toInt());
  const QTime t(m.captured(4).toInt(), m.captured(5).toInt(), second);
  if (month < 1 || !d.isValid() || !t.isValid()) return {};
  int offsetMinutes = 0;
  const QString zone = m.captured(7);
  if (zone.size() == 5 && (zone[0] == u'+' || zone[0] == u'-')) {
    const int hhmm = zone.mid(1).toInt();
    offsetMinutes = (hhmm / 100) * 60 + hhmm % 100;
    if (zone[0] == u'-') offsetMinutes = -offsetMinutes;
    if (hhmm % 100 > 59 || hhmm / 100 > 23) offsetMinutes = 0;
  } else {
    static const QHash<QString, int> named{{"EST", -5 * 60}, {"EDT", -4 * 60}, {"CST", -6 * 60}, {"CDT", -5 * 60},
                                           {"MST", -7 * 60}, {"MDT", -6 * 60}, {"PST", -8 * 60}, {"PDT", -7 * 60}};
    offsetMinutes = named.value(zone.toUpper(), 0);  // UT, GMT, Z and the unknown: UTC
  }
  return QDateTime(d, t, QTimeZone(offsetMinutes * 60)).toLocalTime();
}

// The first mailbox of a From field, as a person would name it: its display name (RFC 2047
// decoded, quotes undone), else an old-style comment name ("ann@example.org (Ann Lee)"), else the
// address, else whatever stands there ("From: foo" is foo).
QString SenderName(const std::string* value) {
  if (!value) return {};
  const std::string_view v = *value;
  std::string phrase;   // display name or bare text, quotes undone
  std::string comment;  // the first comment's text
  std::string address;  // inside <>
  bool haveAngle = false;
  std::string groupName;
  int depth = 0;  // comment nesting
  for (size_t i = 0; i < v.size(); ++i) {
    const char c = v[i];
    // After the address in angle brackets, anything but a comment or a blank is a second
    // mailbox a sender left without its comma: the first one is the sender.
    if (haveAngle && depth == 0 && c != '(' && c != ' ' && c != '\t') break;
    if (depth > 0) {
      if (c == '\\' && i + 1 < v.size()) {
        if (depth == 1) comment += v[++i];
      } else if (c == '(') {
        ++depth;
      } else if (c == ')') {
        --depth;
        if (depth == 0) comment += '\x01';  // ends this comment; only the first is used
      } else if (comment.find('\x01') == std::string::npos) {
        comment += c;
      }
      continue;
    }
    if (c == '(') {
      depth = 1;
      phrase += ' ';
    } else if (c == '"') {
      for (++i; i < v.size() && v[i] != '"'; ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) ++i;
        phrase += v[i];
      }
    } else if (c == '<') {
      const size_t close = v.find('>', i);
      address = std::string(Trim(v.substr(i + 1, close == std::string_view::npos ? close : close - i - 1)));
      haveAngle = true;
      if (close == std::string_view::npos) break;
      i = close;
    } else if (c == ':' && !haveAngle && groupName.empty()) {
      // "group: member, member;" names the group first.
      groupName = phrase;
      phrase.clear();
      comment.clear();
    } else if (c == ',' || c == ';') {
      if (haveAngle || !std::string(Trim(phrase)).empty()) break;
    } else {
      phrase += c;
    }
  }
  if (const size_t end = comment.find('\x01'); end != std::string::npos) comment.resize(end);
  const auto spoken = [](std::string_view raw) {
    QString s = CleanLine(DecodeEncodedWords(Trim(raw))).simplified();
    // 'Ann Lee' in single quotes, as some mailers write a name.
    if (s.size() > 2 && s.startsWith(u'\'') && s.endsWith(u'\'')) s = s.mid(1, s.size() - 2).trimmed();
    return s;
  };
  QString name = spoken(phrase);
  if (haveAngle) {
    if (name.isEmpty()) name = spoken(comment);
    if (name.isEmpty()) name = spoken(address);
  } else if (name.contains(u'@')) {
    // Bare addresses: the first is the sender's, and an old-style comment names its owner.
    if (const QString first = name.section(u' ', 0, 0); first.contains(u'@')) name = first;
    if (const QString c = spoken(comment); !c.isEmpty() && !name.contains(u' ')) name = c;
  } else if (name.isEmpty()) {
    name = spoken(comment);
  }
  if (name.isEmpty()) name = spoken(groupName);
  return name;
}

}  // namespace

MailMessage ParseMessage(const QByteArray& raw) {
  MailMessage m;
  if (raw.trimmed().isEmpty()) {
    m.problem = QStringLiteral("it is empty");
    return m;
  }
  if (raw.size() > kMaxMessageBytes) {
    m.problem = QStringLiteral("it is too large to read");
    return m;
  }
  std::string_view all(raw.constData(), static_cast<size_t>(raw.size()));
  // An mbox "From " line before the header is not part of the message.
  if (all.substr(0, 5) == "From ") {
    const size_t nl = all.find('\n');
    all = nl == std::string_view::npos ? std::string_view() : all.substr(nl + 1);
  }
  Header header;
  std::string_view body;
  SplitEntity(all, header, body);
  // A header with none of the fields mail carries is not a message.
  static const char* const kMailFields[] = {"from",     "subject",      "date",         "content-type", "to",
                                            "cc",       "message-id",   "received",     "return-path",  "sender",
                                            "reply-to", "mime-version", "delivered-to", "in-reply-to",  "references"};
  if (std::none_of(std::begin(kMailFields), std::end(kMailFields),
                   [&](const char* name) { return header.find(name) != nullptr; })) {
    m.problem = QStringLiteral("it is not a mail message");
    return m;
  }
  // Some senders write From twice: the first that names anyone is the sender.
  for (const auto& [name, value] : header.fields)
    if (name == "from" && m.senderName.isEmpty()) m.senderName = SenderName(&value);
  if (const std::string* subject = header.find("subject")) m.subject = CleanLine(DecodeEncodedWords(*subject));
  if (const std::string* date = header.find("date")) m.sent = ParseDate(*date);
  // The topmost Received field was added where the message was delivered; its date follows the
  // last semicolon.
  if (const std::string* received = header.find("received")) {
    const size_t semi = received->rfind(';');
    if (semi != std::string::npos) m.received = ParseDate(std::string_view(*received).substr(semi + 1));
  }

  MimeWalk walk;
  walk.Entity(header, body, 0, ContentType());
  if (walk.tooDeep) {
    m.problem = QStringLiteral("its parts are nested more than %1 deep").arg(kMaxMimeNesting);
    return m;
  }
  const TextPart* chosen = nullptr;
  for (int attachment = 0; attachment < 2 && !chosen; ++attachment)
    for (int kind = 0; kind < kKinds && !chosen; ++kind)
      if (walk.found[kind][attachment].found) chosen = &walk.found[kind][attachment];
  if (chosen) {
    if (const std::optional<QString> decoded = TextOf(*chosen)) {
      QString text = CleanText(*decoded);
      text.replace(u'\n', QStringLiteral("\r\n"));
      m.body = text;
    } else {
      m.textUnreadable = true;
    }
  }
  return m;
}

}  // namespace mailbox
