#pragma once
// Finds top-level windows by their exact title and asks them to close, the EWMH way: the window
// manager's _NET_CLIENT_LIST names the managed windows, _NET_WM_NAME holds each title (UTF-8), and
// a _NET_CLOSE_WINDOW message to the root window asks the manager to close one (as the user's
// click on its close button would).
//
// Without an X display, or under a window manager that keeps no client list, nothing is found.

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace x11windows {

using WindowId = quint32;

class WindowCloser {
 public:
  // Connects to the display named by $DISPLAY (or `display` when given).
  explicit WindowCloser(const QString& display = {});
  ~WindowCloser();
  WindowCloser(const WindowCloser&) = delete;
  WindowCloser& operator=(const WindowCloser&) = delete;

  bool connected() const;

  // The managed windows whose _NET_WM_NAME is exactly `title`, in the client list's order.
  QList<WindowId> findByTitle(const QString& title) const;
  // Asks the window manager to close each window. False when not connected.
  bool requestClose(const QList<WindowId>& windows);
  // Watches, without blocking, until none of the windows is in the client list any more or
  // timeoutMs has passed, then calls done(allGone) once. The call always comes from the event
  // loop, never from inside whenGone, and may destroy the closer. Without a display (or once the
  // connection is lost) the windows count as gone. One wait at a time: a new one, cancelWait()
  // and the closer's destruction each drop the pending one without calling it.
  void whenGone(const QList<WindowId>& windows, int timeoutMs, std::function<void(bool allGone)> done);
  void cancelWait();
  bool waiting() const;

 private:
  QList<WindowId> clientList() const;
  bool anyLeft() const;
  void look();
  void finish(bool allGone);
  struct Impl;
  std::unique_ptr<Impl> m;
};

}  // namespace x11windows
