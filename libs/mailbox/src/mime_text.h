#pragma once
// The text-level pieces of reading mail: bytes in a charset to text, RFC 2047 encoded words,
// the transfer encodings of RFC 2045, text/enriched (RFC 1896), and the clean-up that keeps
// control characters out of whatever is read.
//
// Every function here is total: malformed input gives the best text that can be made of it,
// never an exception, and runs in time linear in its input.

#include <QString>
#include <string>
#include <string_view>

namespace mailbox::detail {

// Bytes in a charset (any case, as a Content-Type names it) as text. No charset, US-ASCII and
// UTF-8 read as UTF-8 where the bytes are UTF-8, and byte by byte as Windows-1252 where they are
// not (8-bit mail that never said its charset is usually one of the two). ISO-8859-1 reads as
// Windows-1252, its superset. Other charsets go through vmime (ICU); one no converter knows
// reads as Windows-1252. Invalid sequences become '?'.
QString DecodeCharset(std::string_view bytes, std::string_view charset);

// Whether a charset name is one DecodeCharset reads as UTF-8 (none, US-ASCII, UTF-8).
bool IsUtf8Charset(std::string_view charset);

// A header value (unfolded) with its RFC 2047 encoded words decoded: "=?charset?B|Q?text?=".
// Whitespace between two encoded words is dropped; consecutive words in one charset are joined
// before decoding, so a character split across two words survives. A word that is not well
// formed stays as it is.
QString DecodeEncodedWords(std::string_view value);

// Quoted-printable (RFC 2045 6.7): "=XX" is a byte, "=" at a line end a soft break; any other
// "=" is kept as the character it is.
std::string DecodeQuotedPrintable(std::string_view in);

// Base64, when the text is base64: only the base64 alphabet on each line, padding only at the
// end. False (out untouched) when it is anything else.
bool DecodeBase64Strict(std::string_view in, std::string* out);
// Base64 that skips whatever is not of its alphabet (for encoded words).
std::string DecodeBase64Lenient(std::string_view in);

// text/enriched (RFC 1896) and text/richtext as plain text: "<<" is "<", formatting commands
// are dropped with the contents of <param>, and a run of n line breaks stands for n - 1 (a single
// one for a space).
QString EnrichedToText(const QString& enriched);

// Text for one line (a name, a subject): every control character becomes a space, and U+FFFD
// and byte order marks are dropped.
QString CleanLine(QString text);
// Text of several lines: line ends of any kind become "\n"; other control characters become
// spaces except tabs; U+FFFD and byte order marks are dropped.
QString CleanText(QString text);

}  // namespace mailbox::detail
