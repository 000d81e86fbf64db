#include "ical_shape.h"

#include <cstring>

namespace icalendar::backend {

namespace {

bool StartsWithNoCase(const char* line, qsizetype length, const char* word) {
  const auto n = static_cast<qsizetype>(std::strlen(word));
  return length >= n && qstrnicmp(line, word, static_cast<uint>(n)) == 0;
}

}  // namespace

QString CheckShape(const QByteArray& text, const ReadOptions& options) {
  int depth = 0;
  int begins = 0;
  // The logical (unfolded) line being read: its length and its first bytes.
  qsizetype length = 0;
  char head[8] = {};
  qsizetype headLength = 0;
  QString error;
  const auto finish = [&]() {
    if (length > options.maxLineLength) {
      error = QStringLiteral("a line of the calendar is %1 bytes long, more than the %2 bytes one line may have")
                  .arg(length)
                  .arg(options.maxLineLength);
      return;
    }
    if (StartsWithNoCase(head, headLength, "BEGIN:")) {
      if (++depth > options.maxDepth) {
        error = QStringLiteral("the calendar's components nest more than %1 levels deep").arg(options.maxDepth);
        return;
      }
      if (++begins > options.maxBegins)
        error = QStringLiteral("the calendar has more than %1 components").arg(options.maxBegins);
    } else if (StartsWithNoCase(head, headLength, "END:") && depth > 0) {
      --depth;
    }
  };
  const char* data = text.constData();
  const qsizetype size = text.size();
  for (qsizetype at = 0; at < size && error.isEmpty();) {
    const char* newline = static_cast<const char*>(std::memchr(data + at, '\n', static_cast<size_t>(size - at)));
    const qsizetype end = newline ? newline - data : size;
    qsizetype lineEnd = end;
    if (lineEnd > at && data[lineEnd - 1] == '\r') --lineEnd;
    const bool folded = data[at] == ' ' || data[at] == '\t';
    const qsizetype from = folded ? at + 1 : at;
    if (!folded) {
      if (at > 0) finish();
      length = 0;
      headLength = 0;
    }
    length += lineEnd - from;
    for (qsizetype i = from; i < lineEnd && headLength < static_cast<qsizetype>(sizeof head); ++i)
      head[headLength++] = data[i];
    // A line still growing past the bound is refused at once, not once it ends.
    if (length > options.maxLineLength) finish();
    at = end + 1;
  }
  if (error.isEmpty() && size > 0) finish();
  return error;
}

}  // namespace icalendar::backend
