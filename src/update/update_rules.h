#pragma once
// The plain rules of the update check: which file on the server is newer than this program,
// which names are safe to fetch, the server address from the settings and the texts shown.

#include <QString>
#include <QStringList>

namespace chimewise::update {

// The program's own version number for the comparison: the text of major, minor, "." and
// revision read as a number (1, 0, 5 give 10.5; 0, 1, 0 give 1.0).
double OwnVersionNumber(int major, int minor, int revision);
double OwnVersionNumber();  // of this build

// The numeric value of the leading digits of a file name ("106.exe" counts 106); 0 without any.
double LeadingNumber(const QString& name);

// A listing row that may be fetched: one plain name (no folder separators, not "." or "..", no
// control characters, at most 255 bytes). Anything else is shown but never fetched.
bool IsPlainFileName(const QString& name);

// A listing row as the window shows it: control characters made visible as "?", cut to 260
// characters.
QString DisplayRow(const QString& row);

// The index of the first row worth fetching (plain and newer than ownVersion), or -1.
int FirstNewerRow(const QStringList& rows, double ownVersion);

// A count in the format "##,###,##0" (1234567 -> "1,234,567").
QString FormatCount(qint64 n);
// A span of time as said in a message: "2 minutes", "1 minute", "45 seconds".
QString DeadlineText(int seconds);

// The progress line: the count received, then " of " and the size text when there is one.
QString ProgressText(qint64 received, const QString& sizeText);

// The installer's argument text: jokesRunning + ",-1," + emailRunning, flags as True/False.
QString InstallerArguments(bool jokesRunning, bool emailRunning);

struct ServerAddress {
  enum Kind { Ok, NotSet, Invalid } kind = NotSet;
  QString host;
  int port = 21;
};

// The setting's text: "host", "host:port" or "ftp://host[:port][/]"; blank means no server.
ServerAddress ParseServerAddress(const QString& text);

}  // namespace chimewise::update
