#include "caldav/multistatus.h"

#include <QXmlStreamReader>

#include <utility>
#include <vector>

namespace caldav {

QString QualifiedName(const char* ns, const char* local) {
  return QLatin1Char('{') + QLatin1String(ns) + QLatin1Char('}') + QLatin1String(local);
}

QUrl ResolveHref(const QString& href, const QUrl& base) {
  const QString trimmed = href.trimmed();
  if (trimmed.isEmpty()) return {};
  // Tolerant: servers write spaces and other characters unencoded now and then.
  const QUrl relative = QUrl::fromEncoded(trimmed.toUtf8(), QUrl::TolerantMode);
  if (!relative.isValid()) return {};
  const QUrl absolute = base.resolved(relative);
  const QString scheme = absolute.scheme().toLower();
  if ((scheme != u"http" && scheme != u"https") || absolute.host().isEmpty()) return {};
  QUrl canonical;
  canonical.setScheme(scheme);
  canonical.setHost(absolute.host());
  const int defaultPort = scheme == u"https" ? 443 : 80;
  if (absolute.port() != -1 && absolute.port() != defaultPort) canonical.setPort(absolute.port());
  QString path = absolute.path(QUrl::FullyDecoded);
  if (path.isEmpty()) path = QStringLiteral("/");
  canonical.setPath(path, QUrl::DecodedMode);
  if (absolute.hasQuery()) canonical.setQuery(absolute.query(QUrl::FullyEncoded), QUrl::StrictMode);
  return canonical.isValid() ? canonical : QUrl();
}

int ParseStatusLine(const QString& line) {
  const QStringList parts = line.simplified().split(QLatin1Char(' '));
  if (parts.size() < 2 || !parts[0].startsWith(QLatin1String("HTTP/"))) return 0;
  bool ok = false;
  const int code = parts[1].toInt(&ok);
  return ok && code >= 100 && code <= 599 ? code : 0;
}

namespace {

QString NameOf(const QXmlStreamReader& xml) {
  return QLatin1Char('{') + xml.namespaceUri().toString() + QLatin1Char('}') + xml.name().toString();
}

bool Is(const QXmlStreamReader& xml, const char* ns, const char* local) {
  return xml.namespaceUri() == QLatin1String(ns) && xml.name() == QLatin1String(local);
}

// A QXmlStreamReader that keeps count of the element depth and refuses what the limits forbid and
// what no WebDAV answer carries (a document type declaration, with its entities).
class Reader {
 public:
  Reader(const QByteArray& body, const Limits& limits) : m_xml(body), m_limits(limits) {
    m_xml.setNamespaceProcessing(true);
  }

  QXmlStreamReader& xml() { return m_xml; }
  int depth() const { return m_depth; }
  bool failed() const { return m_status.error != Error::None || m_xml.hasError(); }
  Status status() const {
    if (m_status.error != Error::None) return m_status;
    if (m_xml.hasError())
      return {Error::MalformedResponse, 0,
              QStringLiteral("The server's XML cannot be read: %1 (line %2)")
                  .arg(m_xml.errorString())
                  .arg(m_xml.lineNumber())};
    return {};
  }
  void fail(Error error, const QString& message) {
    if (m_status.error == Error::None) m_status = {error, 0, message};
  }

  // The next start element, end element or text; Invalid at the end, on an error or a refusal.
  QXmlStreamReader::TokenType step() {
    if (failed()) return QXmlStreamReader::Invalid;
    for (;;) {
      const QXmlStreamReader::TokenType type = m_xml.readNext();
      switch (type) {
        case QXmlStreamReader::StartElement:
          if (++m_depth > m_limits.maxDepth) {
            fail(Error::LimitExceeded,
                 QStringLiteral("The server's XML is nested deeper than %1 elements").arg(m_limits.maxDepth));
            return QXmlStreamReader::Invalid;
          }
          return type;
        case QXmlStreamReader::EndElement: --m_depth; return type;
        case QXmlStreamReader::Characters: return type;
        case QXmlStreamReader::DTD:
          fail(Error::MalformedResponse, QStringLiteral("The server's XML has a document type declaration"));
          return QXmlStreamReader::Invalid;
        case QXmlStreamReader::EndDocument:
        case QXmlStreamReader::Invalid: return QXmlStreamReader::Invalid;
        default: continue;  // the XML declaration, comments, processing instructions
      }
    }
  }

  // At a start element: its own text (not that of child elements, which are skipped), up to
  // `maxChars`; beyond that the text is dropped and `oversized` set. Ends after the element's end.
  QString text(qint64 maxChars, bool* oversized = nullptr) {
    const int level = m_depth;
    QString text;
    bool tooLong = false;
    for (;;) {
      const auto type = step();
      if (type == QXmlStreamReader::Invalid) return {};
      if (type == QXmlStreamReader::EndElement && m_depth < level) break;
      if (type == QXmlStreamReader::Characters && m_depth == level && !tooLong) {
        if (text.size() + m_xml.text().size() > maxChars) {
          tooLong = true;
          text.clear();
        } else {
          text += m_xml.text();
        }
      }
    }
    if (oversized) *oversized = tooLong;
    return text;
  }

  // At a start element: skips to after its end.
  void skip() {
    const int level = m_depth;
    for (;;) {
      const auto type = step();
      if (type == QXmlStreamReader::Invalid) return;
      if (type == QXmlStreamReader::EndElement && m_depth < level) return;
    }
  }

 private:
  QXmlStreamReader m_xml;
  const Limits& m_limits;
  int m_depth = 0;
  Status m_status;
};

// Text of small elements (hrefs, status lines, tokens): far below any limit a server needs.
constexpr qint64 kSmallText = 64 * 1024;

Property ReadProperty(Reader& reader, const QUrl& base, const Limits& limits) {
  Property property;
  QXmlStreamReader& xml = reader.xml();
  const int level = reader.depth();
  for (;;) {
    const auto type = reader.step();
    if (type == QXmlStreamReader::Invalid) return property;
    if (type == QXmlStreamReader::EndElement && reader.depth() < level) break;
    if (type == QXmlStreamReader::Characters && reader.depth() == level && !property.oversized) {
      // calendar-data is counted in characters of UTF-16; its UTF-8 bytes may be up to three
      // times as many, which the caller's check of the bytes catches.
      if (property.text.size() + xml.text().size() > limits.maxObjectBytes) {
        property.oversized = true;
        property.text.clear();
      } else {
        property.text += xml.text();
      }
    } else if (type == QXmlStreamReader::StartElement && reader.depth() == level + 1) {
      property.children << NameOf(xml);
      if (Is(xml, kDavNs, "href")) {
        const QUrl href = ResolveHref(reader.text(kSmallText), base);
        if (href.isValid()) property.hrefs << href;
      } else {
        if (Is(xml, kCalDavNs, "comp"))
          property.componentNames << xml.attributes().value(QLatin1String("name")).toString();
        reader.skip();
      }
    }
  }
  return property;
}

void ReadPropstat(Reader& reader, Response& response, const QUrl& base, const Limits& limits) {
  QXmlStreamReader& xml = reader.xml();
  const int level = reader.depth();
  std::vector<std::pair<QString, Property>> found;
  int status = 0;
  for (;;) {
    const auto type = reader.step();
    if (type == QXmlStreamReader::Invalid) return;
    if (type == QXmlStreamReader::EndElement && reader.depth() < level) break;
    if (type != QXmlStreamReader::StartElement) continue;
    if (Is(xml, kDavNs, "status")) {
      status = ParseStatusLine(reader.text(kSmallText));
    } else if (Is(xml, kDavNs, "prop")) {
      const int propLevel = reader.depth();
      for (;;) {
        const auto t = reader.step();
        if (t == QXmlStreamReader::Invalid) return;
        if (t == QXmlStreamReader::EndElement && reader.depth() < propLevel) break;
        if (t != QXmlStreamReader::StartElement) continue;
        QString name = NameOf(xml);
        found.emplace_back(std::move(name), ReadProperty(reader, base, limits));
      }
    } else {
      reader.skip();
    }
  }
  if (status == 0) {
    reader.fail(Error::MalformedResponse, QStringLiteral("A propstat in the server's answer has no status"));
    return;
  }
  for (auto& [name, property] : found) {
    if (status >= 200 && status < 300)
      response.properties.insert(name, std::move(property));
    else
      response.missing << name;
  }
}

Response ReadResponse(Reader& reader, const QUrl& base, const Limits& limits) {
  Response response;
  QXmlStreamReader& xml = reader.xml();
  const int level = reader.depth();
  bool hadPropstat = false;
  for (;;) {
    const auto type = reader.step();
    if (type == QXmlStreamReader::Invalid) return response;
    if (type == QXmlStreamReader::EndElement && reader.depth() < level) break;
    if (type != QXmlStreamReader::StartElement) continue;
    if (Is(xml, kDavNs, "href")) {
      const QString text = reader.text(kSmallText);
      const QUrl href = ResolveHref(text, base);
      if (!href.isValid()) {
        reader.fail(Error::MalformedResponse,
                    QStringLiteral("The server's answer has an unusable href \"%1\"").arg(text.trimmed().left(200)));
        return response;
      }
      response.hrefs << href;
    } else if (Is(xml, kDavNs, "status")) {
      response.status = ParseStatusLine(reader.text(kSmallText));
      if (response.status == 0) {
        reader.fail(Error::MalformedResponse, QStringLiteral("A response in the server's answer has a bad status"));
        return response;
      }
    } else if (Is(xml, kDavNs, "propstat")) {
      hadPropstat = true;
      ReadPropstat(reader, response, base, limits);
    } else {
      reader.skip();
    }
  }
  if (response.hrefs.isEmpty())
    reader.fail(Error::MalformedResponse, QStringLiteral("A response in the server's answer has no href"));
  else if (!hadPropstat && response.status == 0)
    reader.fail(Error::MalformedResponse, QStringLiteral("A response in the server's answer has no status"));
  return response;
}

}  // namespace

ParseOutcome ParseMultistatus(const QByteArray& body, const QUrl& base, const Limits& limits) {
  ParseOutcome outcome;
  if (body.size() > limits.maxResponseBytes) {
    outcome.status = {Error::LimitExceeded, 0,
                      QStringLiteral("The server's answer is larger than %1 bytes").arg(limits.maxResponseBytes)};
    return outcome;
  }
  if (body.trimmed().isEmpty()) {
    outcome.status = {Error::MalformedResponse, 0, QStringLiteral("The server sent no multistatus (an empty body)")};
    return outcome;
  }
  Reader reader(body, limits);
  QXmlStreamReader& xml = reader.xml();
  if (reader.step() != QXmlStreamReader::StartElement) {
    outcome.status = reader.failed() ? reader.status()
                                     : Status{Error::MalformedResponse, 0, QStringLiteral("The server sent no XML")};
    return outcome;
  }
  if (!Is(xml, kDavNs, "multistatus")) {
    outcome.status = {Error::MalformedResponse, 0,
                      QStringLiteral("The server's answer is %1, not a multistatus").arg(NameOf(xml))};
    return outcome;
  }
  bool closed = false;
  for (;;) {
    const auto type = reader.step();
    if (type == QXmlStreamReader::Invalid) break;
    if (type == QXmlStreamReader::EndElement && reader.depth() == 0) {
      closed = true;
      break;
    }
    if (type != QXmlStreamReader::StartElement) continue;
    if (Is(xml, kDavNs, "response")) {
      if (outcome.multistatus.responses.size() >= limits.maxResponses) {
        reader.fail(Error::LimitExceeded,
                    QStringLiteral("The server's answer has more than %1 responses").arg(limits.maxResponses));
        break;
      }
      outcome.multistatus.responses << ReadResponse(reader, base, limits);
    } else if (Is(xml, kDavNs, "sync-token")) {
      outcome.multistatus.syncToken = reader.text(kSmallText).trimmed();
    } else {
      reader.skip();
    }
  }
  // Nothing but comments and white space may follow the root.
  while (closed && !reader.failed()) {
    const auto type = reader.step();
    if (type == QXmlStreamReader::Invalid) break;
    if (type != QXmlStreamReader::Characters || !xml.isWhitespace()) {
      reader.fail(Error::MalformedResponse, QStringLiteral("The server's answer goes on after its multistatus"));
      break;
    }
  }
  if (reader.failed()) {
    outcome.status = reader.status();
    outcome.multistatus = {};
  } else if (!closed) {
    outcome.status = {Error::MalformedResponse, 0, QStringLiteral("The server's multistatus ends before its end")};
    outcome.multistatus = {};
  }
  return outcome;
}

QStringList ParseErrorBody(const QByteArray& body, const Limits& limits) {
  QStringList conditions;
  if (body.isEmpty() || body.size() > limits.maxResponseBytes) return conditions;
  Reader reader(body, limits);
  QXmlStreamReader& xml = reader.xml();
  if (reader.step() != QXmlStreamReader::StartElement || !Is(xml, kDavNs, "error")) return conditions;
  for (;;) {
    const auto type = reader.step();
    if (type == QXmlStreamReader::Invalid || reader.depth() == 0) break;
    if (type == QXmlStreamReader::StartElement && reader.depth() == 2) {
      conditions << NameOf(xml);
      reader.skip();
    }
  }
  return conditions;
}

}  // namespace caldav
