#pragma once
// Every setting the program keeps: its section, its key and its default text, one definition per
// key. Where two readers of one key pass different defaults, the key carries the first and the
// other reader passes its own (named here as ...ReaderDefault).

namespace chimewise {

// maxLength bounds what a read accepts: a longer stored value is unreadable and gives the
// default (the store also applies its own overall bound, SettingsStore::kMaxValueLength).
struct SettingKey {
  const char* section;
  const char* key;
  const char* defaultText;
  int maxLength = 4096;
};

namespace settings {

// The character.
inline constexpr SettingKey CharacterName{"Character", "Name", ""};
inline constexpr SettingKey CharacterIndexName{"Character", "IndexName", "0"};
inline constexpr SettingKey CharacterSize{"Character", "Size", "2"};

// Defaults for reminders.
inline constexpr SettingKey RemindOn{"Defaults", "Remind On", "1"};
inline constexpr SettingKey WaitTime{"Defaults", "Wait Time", "5"};
// A time pattern is a few characters; its text goes into the 60-character display fields of a
// reminder after a ten-character date.
inline constexpr SettingKey TimeFormat{"Defaults", "Time Format", "h:mm am/pm", 32};
inline constexpr SettingKey ShowOnStart{"Defaults", "ShowOnStart", "0"};
inline constexpr SettingKey LastSound{"Defaults", "Sound", ""};  // written only
// "1": every announced reminder is also a desktop notification; "0": only when the character
// cannot be seen or heard.
inline constexpr SettingKey DesktopNotices{"Defaults", "Desktop Notices", "0"};
// "1" once the user has been told (by a notification) that the desktop will not let the
// character place itself.
inline constexpr SettingKey PlacementLimitTold{"Defaults", "Placement Limit Told", "0"};
// "1": the reminder table keeps its code page (a table another program shares), and text it lacks
// is refused; "0": the table is converted to UTF-8 the first time a text needs it.
inline constexpr SettingKey KeepTableCodePage{"Defaults", "Keep Table Code Page", "0"};

// The Reminder Viewer.
inline constexpr SettingKey ReadMemos{"ReminderView", "Read Memos", "1"};
inline constexpr SettingKey ReadActivity{"ReminderView", "Read Activity", "1"};
inline constexpr SettingKey ShowFuture{"ReminderView", "ShowFuture", "1"};
inline constexpr SettingKey NoSoundEffects{"ReminderView", "NoSoundEffects", "0"};
inline constexpr SettingKey LastOptimize{"ReminderView", "LastOptimize", "1"};
inline constexpr SettingKey OptionsOpened{"ReminderView", "Options Opened", ""};  // written only
// Window placement keys live in a section named after the window; these are their names.
inline constexpr const char* PlacementTop = "Top";
inline constexpr const char* PlacementLeft = "Left";
inline constexpr const char* PlacementWidth = "Width";
inline constexpr const char* PlacementHeight = "Height";
inline constexpr const char* ViewerSection = "ReminderView";

// Tours.
inline constexpr SettingKey ScheduleShowHelp{"Schedule", "ShowHelp", "1"};
inline constexpr SettingKey OptionsShowHelp{"Options", "ShowHelp", "1"};

// The talking clock.
inline constexpr SettingKey AnnounceOn{"Big Ben", "AnnounceOn", "1"};
inline constexpr SettingKey AnnounceInterval{"Big Ben", "Interval", "6"};
inline constexpr SettingKey TimeOn{"Big Ben", "TimeOn", "-1"};
inline constexpr const char* TimeOnOptionsReaderDefault = "1";
inline constexpr SettingKey StartTime{"Big Ben", "Start Time", "7:00:00 AM"};
inline constexpr SettingKey EndTime{"Big Ben", "End Time", "9:00:00 PM"};
inline constexpr SettingKey AnnouncePhrase{"Big Ben", "Announce", "The time is"};
inline constexpr SettingKey AnnounceGesture{"Big Ben", "Gesture", "Announce"};
inline constexpr SettingKey GestureIndex{"Big Ben", "GestureIndex", "-1"};
inline constexpr SettingKey SayTimeOfDay{"Big Ben", "Say TimeODay", "0"};
inline constexpr SettingKey SayDayOfWeek{"Big Ben", "Say DayOWeek", "0"};
inline constexpr SettingKey SayDate{"Big Ben", "Say Date", "0"};

// Reading mail aloud.
inline constexpr SettingKey CheckMail{"New Mail", "CheckMail", "0"};
inline constexpr const char* CheckMailOptionsReaderDefault = "1";
inline constexpr SettingKey MailInterval{"New Mail", "Interval", "10"};
inline constexpr SettingKey AutoWhen{"New Mail", "AutoWhen", "1"};
inline constexpr SettingKey AutoWho{"New Mail", "AutoWho", "0"};
inline constexpr SettingKey AutoSubject{"New Mail", "AutoSubject", "1"};
inline constexpr SettingKey AutoBody{"New Mail", "AutoBody", "0"};
inline constexpr SettingKey ReadAll{"New Mail", "ReadAll", "0"};
inline constexpr SettingKey MailWhen{"New Mail", "When", "1"};
inline constexpr SettingKey MailWho{"New Mail", "Who", "0"};
inline constexpr const char* MailWhoListReaderDefault = "1";  // the unread e-mail window
inline constexpr SettingKey MailSubject{"New Mail", "Subject", "1"};
inline constexpr SettingKey MailBody{"New Mail", "Body", "1"};
inline constexpr SettingKey MarkRead{"New Mail", "MarkRead", "1"};
inline constexpr SettingKey LastCheck{"New Mail", "LastCheck", "1-JAN-1980 00:01"};
// The mailbox read aloud: a Maildir folder's path, or "imap://host[:port]" (STARTTLS) or
// "imaps://host[:port]"; empty when none is set up. The IMAP user name; the password is never stored here.
inline constexpr SettingKey Mailbox{"New Mail", "Mailbox", ""};
inline constexpr SettingKey MailUser{"New Mail", "User", ""};

// The update check: the FTP server looked at for a newer version ("host", "host:port" or
// "ftp://host[:port]"). Empty: no server is set up, and the check says so.
inline constexpr SettingKey UpdateServer{"Update", "Server", ""};

// Two-way sync of the reminders with a CalDAV calendar: the collection's URL (or the server's, or
// a principal's), and the user name; the password lives in the secret store, never here. Empty
// server: no sync is set up.
inline constexpr SettingKey SyncServer{"Sync", "Server", ""};
inline constexpr SettingKey SyncUser{"Sync", "User", ""};

// Jokes and quotes: the section is the name of the table in use.
inline constexpr const char* NextRecKey = "NextRec";
inline constexpr const char* NextRecDefault = "1";

}  // namespace settings
}  // namespace chimewise
