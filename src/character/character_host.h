#pragma once
// The program's character: loads it from the character store, sizes it, gives it the command
// menu, speaks through it, waits for its speech, plays reminder sounds, and turns its bookmark,
// hide and shutdown events into the end of a speech wait.

#include "character/character_tables.h"
#include "core/problem.h"
#include "core/speaker_port.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace agent {
class AgentService;
class AudioOutput;
class Character;
class TimerClock;
struct Failure;
class Timer;
}  // namespace agent

namespace chimewise {

class KeepClear;
class Prompter;
class SettingsStore;
struct SharedState;

inline const QString kCharacterId = QStringLiteral("CharacterID");
inline const QString kReadyGreeting = QStringLiteral("Olm Chimewise is Ready to Serve You.");
inline const QString kGoodbye = QStringLiteral("Thank You For Using Olm Chimewise!");
// What the transcript writes before a line stopped before its end.
inline const QString kCutShort = QStringLiteral("[cut short] ");

// A character file the platform could not load, as the program tells the user.
Problem CharacterLoadProblem(const agent::Failure& failure);

struct CharacterHostOptions {
  // The folders of the character store: the user's own first, then the installed ones.
  QStringList characterFolders;
  // The user's store, which must exist (the store's base is the folder above "msagent").
  QString windowsFolder;  // ends in "/"
  bool silentAudio = false;
  agent::TimerClock* clock = nullptr;  // null: real time
  // The longest a speech wait lasts when the end of the speech never comes.
  int speechWaitLimitMs = 120000;
  // When set, every line the character says is appended to this file when it begins to be heard
  // (its first sound goes out), one per line after that time ("HH:mm:ss<TAB>text"): what a soak
  // test checks the announcements against. A line dropped before it was heard is not written; one
  // stopped after it began is written again, when it stopped, after kCutShort.
  QString transcriptPath;
  // Set: the character speaks with this voice instead of its own (tests: a quick synthesiser).
  QString voiceName;
};

class CharacterHost final : public QObject, public SpeakerPort {
  Q_OBJECT
 public:
  CharacterHost(SharedState& state, SettingsStore& settings, Prompter& prompter, CharacterHostOptions options,
                QObject* parent = nullptr);
  ~CharacterHost() override;

  // Loads a character file ("Hoot.ochar") from the store. At start-up it is also centred,
  // introduced on the first run or greets when it is to stay on screen. Failures are told to
  // the user; the caller goes on either way.
  void LoadCharacter(const QString& fileName, bool atStartUp);
  // Sizes the character by the size table; any other index restores its original size.
  void SetCharacterSize(int index);

  // Queues speech and the animations its gesture tags name; returns at once.
  void SayText(const QString& text) override;
  // How long a wait for the character's speech (a tour's) goes on at most.
  int speechWaitLimitMs() const { return m_options.speechWaitLimitMs; }
  // Switches the character's own sound effects, giving up after a few refusals.
  void SetSoundEffects(bool on) override;
  // Ends any speech wait and drops what the character has queued: for a feature that starts
  // something else, all but what was asked for first in line (a reminder, the time); for the user's
  // Stop Talking (usersStop), everything, and that counts as dealt with, not as unheard (see
  // SpeakerPort::Hearing).
  void QuietCharacter(bool usersStop = false);
  // Drops what the character has queued, its running request included, for a feature that starts
  // saying something else; what was asked for first in line (a reminder falling due, the time)
  // stays and is said first.
  void StopAll();
  // Offers choices at the foot of the character's balloon ("Skip"; "Yes" and "No"), kept for a
  // character loaded later; empty for none. A click on one raises choiceChosen(its label).
  void OfferChoices(const QStringList& labels);
  QStringList offeredChoices() const { return m_choices; }
  // The character steps aside from a dialog it covers: from every dialog (on, as it starts), or
  // from message boxes alone (off: a guided tour places it beside the window it explains).
  // Switching it on looks again at once.
  void SetKeepClearOfDialogs(bool on);
  bool keepsClearOfDialogs() const;

  // Reminder sounds: the sound of an index 1-8 from the sound folder, then its pause.
  void PlaySoundEffect(int index) override;
  // Starts a WAV file and returns at once; a missing or unplayable file plays nothing.
  void PlayWaveFile(const QString& path);
  // Holds back what the character says next by the given seconds, and returns at once: the
  // character's queue waits that long before the requests queued after this. Without a character
  // the pause is kept for the one loaded next. The end of the speech waits (a stop, shutdown) and
  // StopAll end every pending pause at once; once shutdown has begun no pause is made.
  void PauseSeconds(double seconds);

  // Shows the character, waves and queues the goodbye of the shutdown; returns at once.
  void SayGoodbye();
  // Hides and unloads the character, then calls `then`. After SayGoodbye the goodbye first plays
  // to its end (at most its own length plus a second): this returns at once and the release
  // follows while the program goes on handling events. Without a goodbye it all happens before
  // this returns. Nothing is called back once this host is destroyed.
  void ReleaseCharacter(std::function<void()> then = {});
  // True while a release waits for the goodbye to end.
  bool releasing() const { return static_cast<bool>(m_afterRelease); }

  // Voice commands: the character listens for the phrases of its menu's voice entries. A phrase
  // heard comes back as commandChosen(name), like a menu choice; nothing heard plays its
  // "DontRecognize". False when it cannot listen (no character, no microphone, no recogniser);
  // the first time that happens listenUnavailable(reason) is raised, so the user is told once.
  bool Listen();

  agent::Character* character() const;
  agent::AgentService& service() { return *m_service; }
  // Whether the character's speech and sounds can be heard: sound is not switched off for this
  // run and the desktop has a sound output device.
  bool audible() const;

  // What the program can carry out of the character's menu, asked as a character loads; it outlives
  // this host. None: every command is registered as the command table has it.
  void setCommands(const CharacterCommandsPort* commands) { m_commands = commands; }
  // Where the reminder sounds live ("<AppFolder>/sound").
  QString soundFolder() const;

  // SpeakerPort
  void speak(const QString& text) override;
  void play(const QString& animation) override;
  void show() override;
  void hide() override;
  bool visible() const override;
  QRect screenGeometry() const override;
  bool soundEffectsOn() const override;
  void SetFirstInLine(bool on) override;
  void BeginTelling() override;
  bool EndTelling(std::function<void(Hearing)> done) override;

  // The user sent the character away (Go Away) and has not called it back since (a click on it,
  // or a start of the program that brings it back). Reminders then also reach the desktop's
  // notifications.
  bool sentAway() const { return m_sentAway; }
  void setSentAway(bool away) { m_sentAway = away; }

 signals:
  // The loaded character, whichever it is now, was clicked or dropped after a drag with a mouse
  // button, or a command of its menu was chosen (by its registered name).
  void clicked(Qt::MouseButton button);
  void dragCompleted(Qt::MouseButton button);
  void commandChosen(const QString& name);
  // Listening failed for the first time in this run of the program.
  void listenUnavailable(const QString& reason);
  // The user chose one of the choices offered in the balloon.
  void choiceChosen(const QString& label);
  // The first start after installation loaded its character and showed it: the introduction is to
  // start now (a receiver starts it before the load goes on, and it runs on from the event loop
  // after the load has returned).
  void introductionDue();

 private:
  void connectEvents(agent::Character* c);
  // Queues a Show. Until it runs, the character counts as visible: it is on its way.
  void requestShow();
  void onBookmark(int id);
  QStringList m_choices;
  void record(const QString& text) const;
  // Queues one line to say, to be written to the transcript when it is heard.
  void queueSpeech(agent::Character* c, const QString& text);
  // The lines queued and not yet heard, and those being said, by request (kept for a transcript).
  QHash<qint64, QString> m_unheard;
  QHash<qint64, QString> m_saying;
  void cutShort();
  // Tellings (see SpeakerPort::BeginTelling): the one being asked for, and those whose lines are on
  // their way, with the requests still to end.
  struct Telling {
    QList<qint64> open;
    Hearing outcome = Hearing::Heard;
    bool anyLine = false;
    std::function<void(Hearing)> done;
  };
  std::optional<Telling> m_telling;
  QHash<qint64, Telling> m_tellings;  // by a key of their own
  QHash<qint64, qint64> m_tellingOf;  // request id -> telling key
  qint64 m_nextTelling = 1;
  bool m_userStops = false;                 // set while the user's Stop Talking drops the lines
  QList<QPair<qint64, int>> m_endedAtOnce;  // requests that ended before speak() returned their id
  void lineEnded(qint64 id, int status);
  void endTelling(qint64 key);
  // The character goes: what it still had to say will not be heard.
  void dropTellings();
  bool m_firstInLine = false;
  std::optional<QString> m_asking;  // the line being handed to the character now
  bool m_heardAtOnce = false;
  void lookAtGoodbye();
  void finishRelease();
  void watchPauses();
  void endPauses();

  SharedState& m_state;
  bool m_sentAway = false;
  SettingsStore& m_settings;
  Prompter& m_prompter;
  CharacterHostOptions m_options;
  std::unique_ptr<agent::TimerClock> m_ownClock;
  agent::TimerClock* m_clock = nullptr;  // the options' clock or m_ownClock
  std::unique_ptr<agent::AgentService> m_service;
  std::unique_ptr<agent::AudioOutput> m_sounds;
  QPointer<agent::Character> m_character;
  qint64 m_pendingShow = 0;  // the queued Show not yet started, 0 when none
  // The pauses queued on the character that have not ended yet.
  QList<qint64> m_pauses;
  // Without a character: when (on the clock) the pause made then ends; -1 when none is pending.
  qint64 m_pauseEndMs = -1;
  // The program events whose interruptions end the pauses (tests may replace the object).
  QPointer<QObject> m_pauseEvents;
  QMetaObject::Connection m_pauseWatch;
  bool m_keepPauses = false;  // set while the character's own hide ends the speech waits
  bool m_listenUnavailableTold = false;
  // When (on the clock) the latest release stops waiting for the goodbye; -1 while none is queued.
  qint64 m_goodbyeEndMs = -1;
  // What follows the release that waits for the goodbye; empty while none waits.
  std::function<void()> m_afterRelease;
  std::unique_ptr<agent::Timer> m_releaseTimer;  // on the clock
  QList<QMetaObject::Connection> m_releaseWatch;
  std::unique_ptr<KeepClear> m_keepClear;
  const CharacterCommandsPort* m_commands = nullptr;
};

}  // namespace chimewise
