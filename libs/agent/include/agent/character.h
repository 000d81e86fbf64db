#pragma once

#include "agent/character_file.h"
#include "agent/commands.h"
#include "agent/speech_engine.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>

class QMenu;
class QWidget;

namespace agent {

class AnimationPlayer;
class AudioOutput;
class Listener;
class BalloonWindow;
class CharacterWindow;
class TimerClock;
class Timer;

using RequestId = qint64;

enum class RequestStatus { Complete, Failed, Interrupted };

// Why the character was hidden (the Hide event's cause). The character offers no hide entry of
// its own, so for now every hide is the program's.
enum class HideCause { User = 1, Program = 3 };

// Where the word balloon appears: in a window of its own beside the character, or inside the
// character's window, which then keeps room for it above the drawing. A desktop that places every
// window itself (a plain Wayland client cannot choose where its windows go) would put a balloon of
// its own anywhere, or tile it; inside the character's window it stays with the character.
enum class BalloonPlace { OwnWindow, InsideCharacter };

// What a character works with. It borrows them: the owner (the character service) keeps them
// alive until the character is gone, and destroys sound outputs only where no handler runs.
struct CharacterOptions {
  TimerClock* clock = nullptr;            // required
  SpeechEngine* speech = nullptr;         // required
  AudioOutput* speechOutput = nullptr;    // required
  AudioOutput* effectsOutput = nullptr;   // required
  bool synthesizeOnCallerThread = false;  // tools and tests; the program uses the speech thread
  BalloonPlace balloon = BalloonPlace::OwnWindow;
  QString voiceName;  // set: speaks with this voice instead of the character's own (tools and tests)
};

// A loaded character: a window on the desktop, a voice, and a queue of requests.
//
// Speak, Play, Show, Hide, MoveTo and Wait are queued and run strictly one after another; each
// returns the request's id, and requestStarted / requestCompleted report its progress. On an
// idle character the request starts before the call returns (so after show() isVisible() is
// already true), which means its requestStarted, and for a request with nothing to do its
// requestCompleted, can arrive before the caller has the id. A request that cannot be done
// (an animation the character lacks) fails alone and the queue goes on. Stop and StopAll end
// the running request and drop everything queued behind it.
class Character final : public QObject {
  Q_OBJECT
 public:
  Character(const QString& id, std::shared_ptr<const CharacterDefinition> definition, CharacterOptions options);
  ~Character() override;
  Q_DISABLE_COPY_MOVE(Character)

  QString id() const { return m_id; }
  const CharacterDefinition& definition() const { return *m_def; }
  QString name() const { return m_def->name; }
  QString description() const { return m_def->description; }

  RequestId speak(const QString& text);
  RequestId play(const QString& animation);
  RequestId show();
  RequestId hide();
  RequestId moveTo(int x, int y);
  // Holds the queue for `ms` milliseconds of the character's clock, shown or hidden: what is
  // queued behind it starts once the time is up. Stopping it lets the queue go on at once.
  RequestId wait(qint64 ms);
  // While on, every request made goes ahead of those queued while it was off: behind the running
  // request and the earlier ones made while on, in the order they are made. For what must not wait
  // behind a long queue (an alarm); it waits only for the request under way.
  void setQueueFirst(bool on) { m_queueFirst = on; }
  bool queueFirst() const { return m_queueFirst; }
  // Ends the running request and drops the queue.
  void stop();
  // Ends or drops one request.
  void stop(RequestId request);
  void stopAll();
  // Ends the running request and drops the queue, except what was made first in line.
  void stopAllButFirst();

  bool isVisible() const { return m_visible; }
  int left() const { return m_pos.x(); }
  int top() const { return m_pos.y(); }
  void setLeft(int x);
  void setTop(int y);
  int width() const { return m_size.width(); }
  int height() const { return m_size.height(); }
  void setWidth(int w);
  void setHeight(int h);
  int originalWidth() const { return m_def->width; }
  int originalHeight() const { return m_def->height; }
  bool soundEffectsOn() const { return m_soundEffects; }
  void setSoundEffectsOn(bool on);
  int languageId() const { return m_languageId; }
  void setLanguageId(int id) { m_languageId = id; }
  Commands& commands() { return m_commands; }
  const Commands& commands() const { return m_commands; }
  // Opens the command menu with its top left corner at (x, y) in screen pixels.
  void showPopupMenu(int x, int y);
  // Voice commands. listen(true) starts listening to the microphone for the phrases of the
  // command menu's voice entries: the balloon says "Listening...", and the spell ends when the
  // speaker falls silent or after five seconds. A phrase heard raises command(name); nothing
  // heard, or nothing of the menu, plays "DontRecognize". False, with listenUnavailable(reason),
  // when there is no microphone or recogniser or no command has a voice entry. listen(false)
  // stops listening without an outcome.
  bool listen(bool on);
  bool isListening() const;
  // Listens to a recording (16-bit mono PCM) as if it came through the microphone, to its end
  // or until the spell is over; for tools and tests.
  bool listenToRecording(const QByteArray& pcm, int sampleRate);

  // Inspection, for tools and tests.
  int queuedRequests() const { return int(m_queue.size()) + (m_current ? 1 : 0); }
  // Controls at the foot of the word balloon ("Skip", or "Yes" and "No"); empty for none. A click
  // on one raises balloonActionChosen(its index). While it carries controls the balloon stays
  // after the speech (until they are withdrawn, the character stops or hides), and it holds
  // still while the pointer is over it.
  void setBalloonActions(const QStringList& labels);
  QStringList balloonActions() const;
  QString balloonText() const;  // what the balloon shows now (the latest words of a long text)
  bool balloonVisible() const;
  // True once the running speech (if any) has been synthesised to its end.
  bool speechSynthesized() const { return !m_speaking || m_synthesisDone; }
  MouthShape mouthShape() const { return m_mouth; }
  Pose pose() const;  // as drawn now, mouth included
  QWidget* window() const;
  // Where the balloon is on the screen now (empty while it is hidden).
  QRect balloonGeometry() const;
  // Where the balloon's control `index` takes clicks on the screen now (empty while hidden).
  QRect balloonActionGeometry(int index) const;
  QMenu* popupMenu() const;
  // Where the character's drawing (at rest) is on the screen: the window minus its
  // transparent margins. The balloon is placed against it.
  QRect drawnGeometry() const;
  QString currentAnimation() const;

 signals:
  void bookmark(int id);
  void click(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void dragComplete(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void command(const QString& name);
  void hidden(agent::HideCause cause);
  void requestStarted(agent::RequestId request);
  // The first sample of a spoken request went to the audio output.
  void speechStarted(agent::RequestId request);
  // The character played one of its sound effects (only while SoundEffectsOn).
  void soundEffect(const QString& name);
  void requestCompleted(agent::RequestId request, agent::RequestStatus status, const QString& message);
  // Listening could not start.
  void listenUnavailable(const QString& reason);
  // A spell of listening ended: the command heard (empty when none) and the words recognised.
  void listenComplete(const QString& command, const QString& words);
  void balloonActionChosen(int index);

 private:
  struct Request {
    enum Kind { Speak, Play, Show, Hide, Move, Wait } kind;
    RequestId id = 0;
    QString text;
    QPoint target;
    qint64 ms = 0;
    bool first = false;  // made while queueFirst was on
  };

  RequestId enqueue(Request request);
  void kick();
  void runNext();
  void finishCurrent(RequestStatus status, const QString& message = QString());
  void playThenFinish(const Animation& animation, RequestId id, bool snapToStart);
  void abortCurrent();
  void startSpeak(const Request& r);
  void speechChunk(RequestId id, Utterance chunk, bool last);
  void pollSpeech();
  void startMove(const Request& r);
  void glide();
  void armIdle();
  void idleTimeout();
  void interruptIdle();
  void applyGeometry();
  // The drawing's box inside the window: the whole window, or its foot below the balloon's room.
  QRect characterArea() const;
  // Where the balloon points to, in the coordinates it is placed in (the screen's, or the
  // window's when it lives inside it).
  QRect balloonTarget() const;
  void frameChanged();
  void playEffect(int sound);
  void onWindowClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint global);
  void onWindowDragged(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint global, QPoint topLeft);
  Listener& listener();
  void listeningStarted();
  void listeningFinished(const QString& command, const QString& words);

  QString m_id;
  std::shared_ptr<const CharacterDefinition> m_def;
  TimerClock& m_clock;
  SpeechEngine& m_speech;
  AudioOutput* m_speechOut;
  AudioOutput* m_effectsOut;
  std::unique_ptr<AudioOutput> m_silentFallback;
  AudioOutput* m_playing = nullptr;
  bool m_syncSpeech;
  BalloonPlace m_balloonPlace;
  Voice m_voice;
  std::unique_ptr<AnimationPlayer> m_player;
  std::unique_ptr<CharacterWindow> m_window;
  std::unique_ptr<BalloonWindow> m_balloon;
  QPointer<QMenu> m_menu;

  std::unique_ptr<Timer> m_kickTimer;
  std::unique_ptr<Timer> m_speechTimer;
  std::unique_ptr<Timer> m_moveTimer;
  std::unique_ptr<Timer> m_waitTimer;
  std::unique_ptr<Timer> m_idleTimer;
  std::unique_ptr<Timer> m_balloonTimer;

  std::deque<Request> m_queue;
  std::unique_ptr<Request> m_current;
  RequestId m_nextId = 1;
  bool m_queueFirst = false;

  // Speech in progress.
  SpeechEngine::Job m_job = 0;
  Utterance m_utterance;
  size_t m_eventIndex = 0;
  bool m_speaking = false;
  bool m_synthesisDone = false;
  MouthShape m_mouth = MouthShape::Closed;
  QString m_shown;
  int m_shownEnd = 0;

  // Glide in progress.
  QPoint m_moveFrom;
  QPoint m_moveTo;
  qint64 m_moveStart = 0;
  qint64 m_moveDuration = 0;

  bool m_idleAnimation = false;
  qint64 m_lastActivity = 0;

  bool m_visible = false;
  QPoint m_pos;
  QSize m_size;
  QRectF m_drawn;  // the drawing at rest, as fractions of the character's box
  bool m_soundEffects = true;
  int m_languageId = 1033;
  Commands m_commands;
  std::unique_ptr<Listener> m_listener;
};

}  // namespace agent
