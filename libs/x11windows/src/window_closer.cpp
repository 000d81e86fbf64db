#include "x11windows/window_closer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>

namespace x11windows {

struct WindowCloser::Impl {
  xcb_connection_t* conn = nullptr;
  xcb_ewmh_connection_t ewmh{};
  bool ewmhReady = false;
  int screen = 0;
  xcb_window_t root = 0;

  // The wait in progress: the first look (from the event loop), the limit, a slow re-check and
  // the connection's events.
  QTimer soon;
  QTimer limit;
  QTimer recheck;
  std::unique_ptr<QSocketNotifier> notifier;
  QList<WindowId> watched;
  std::function<void(bool)> done;

  ~Impl() {
    notifier.reset();  // before its socket closes
    if (ewmhReady) xcb_ewmh_connection_wipe(&ewmh);
    if (conn) xcb_disconnect(conn);
  }
};

WindowCloser::WindowCloser(const QString& display) : m(std::make_unique<Impl>()) {
  m->soon.setSingleShot(true);
  m->limit.setSingleShot(true);
  // A coarse timer may fire a few percent early; the caller was promised the whole wait.
  m->limit.setTimerType(Qt::PreciseTimer);
  // A slow re-check besides the events: a manager may drop a window without touching the list
  // property we watch in the usual way, and replies read by other requests take their events
  // off the socket unseen.
  m->recheck.setInterval(500);
  QObject::connect(&m->soon, &QTimer::timeout, &m->soon, [this] { look(); });
  QObject::connect(&m->recheck, &QTimer::timeout, &m->recheck, [this] { look(); });
  QObject::connect(&m->limit, &QTimer::timeout, &m->limit, [this] { finish(!anyLeft()); });
  const QByteArray name = display.toLocal8Bit();
  if (display.isEmpty() && !std::getenv("DISPLAY")) return;
  m->conn = xcb_connect(display.isEmpty() ? nullptr : name.constData(), &m->screen);
  if (!m->conn || xcb_connection_has_error(m->conn)) return;
  xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(m->conn, &m->ewmh);
  if (!cookies || !xcb_ewmh_init_atoms_replies(&m->ewmh, cookies, nullptr)) return;
  m->ewmhReady = true;
  if (m->screen < 0 || m->screen >= m->ewmh.nb_screens) m->screen = 0;
  m->root = m->ewmh.screens[m->screen]->root;
  // Changes of the client list arrive as events: a wait reacts to them at once.
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(m->conn, m->root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(m->conn);
  m->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m->conn), QSocketNotifier::Read);
  m->notifier->setEnabled(false);
  QObject::connect(m->notifier.get(), &QSocketNotifier::activated, m->notifier.get(), [this] {
    bool relevant = false;
    while (xcb_generic_event_t* ev = xcb_poll_for_event(m->conn)) {
      if ((ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) relevant = true;
      std::free(ev);
    }
    if (!m->done) return;
    if (xcb_connection_has_error(m->conn))
      finish(!anyLeft());
    else if (relevant)
      look();
  });
}

WindowCloser::~WindowCloser() = default;

bool WindowCloser::connected() const { return m->ewmhReady && !xcb_connection_has_error(m->conn); }

QList<WindowId> WindowCloser::clientList() const {
  QList<WindowId> list;
  if (!connected()) return list;
  xcb_ewmh_get_windows_reply_t reply;
  if (xcb_ewmh_get_client_list_reply(&m->ewmh, xcb_ewmh_get_client_list(&m->ewmh, m->screen), &reply, nullptr)) {
    for (uint32_t i = 0; i < reply.windows_len; ++i) list.append(reply.windows[i]);
    xcb_ewmh_get_windows_reply_wipe(&reply);
  }
  return list;
}

QList<WindowId> WindowCloser::findByTitle(const QString& title) const {
  QList<WindowId> found;
  const QList<WindowId> clients = clientList();
  // All title requests first, then the replies: one round trip for the whole list.
  std::vector<xcb_get_property_cookie_t> cookies;
  cookies.reserve(size_t(clients.size()));
  for (WindowId w : clients) cookies.push_back(xcb_ewmh_get_wm_name(&m->ewmh, w));
  const QByteArray wanted = title.toUtf8();
  for (qsizetype i = 0; i < clients.size(); ++i) {
    xcb_ewmh_get_utf8_strings_reply_t name;
    if (!xcb_ewmh_get_wm_name_reply(&m->ewmh, cookies[size_t(i)], &name, nullptr)) continue;
    QByteArray got(name.strings, int(name.strings_len));
    // A title may be stored with a terminating NUL.
    if (got.endsWith('\0')) got.chop(1);
    if (got == wanted) found.append(clients[i]);
    xcb_ewmh_get_utf8_strings_reply_wipe(&name);
  }
  return found;
}

bool WindowCloser::requestClose(const QList<WindowId>& windows) {
  if (!connected()) return false;
  for (WindowId w : windows) {
    // Source indication 2: a request on the user's behalf (a pager or task bar).
    xcb_ewmh_request_close_window(&m->ewmh, m->screen, w, XCB_CURRENT_TIME, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
  }
  xcb_flush(m->conn);
  return true;
}

bool WindowCloser::anyLeft() const {
  if (!connected()) return false;
  const QList<WindowId> clients = clientList();
  for (WindowId w : m->watched) {
    if (clients.contains(w)) return true;
  }
  return false;
}

void WindowCloser::whenGone(const QList<WindowId>& windows, int timeoutMs, std::function<void(bool)> done) {
  cancelWait();
  m->watched = windows;
  m->done = std::move(done);
  m->soon.start(0);
  if (!connected()) return;
  m->limit.start(std::max(0, timeoutMs));
  m->recheck.start();
  m->notifier->setEnabled(true);
}

void WindowCloser::cancelWait() {
  m->soon.stop();
  m->limit.stop();
  m->recheck.stop();
  if (m->notifier) m->notifier->setEnabled(false);
  m->watched.clear();
  m->done = nullptr;
}

bool WindowCloser::waiting() const { return bool(m->done); }

void WindowCloser::look() {
  if (m->done && !anyLeft()) finish(true);
}

void WindowCloser::finish(bool allGone) {
  std::function<void(bool)> done = std::move(m->done);
  cancelWait();
  // Last: the call may destroy the closer.
  if (done) done(allGone);
}

}  // namespace x11windows
