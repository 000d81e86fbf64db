// The window closer against a private Xvfb. The test plays a minimal EWMH window manager: it
// keeps _NET_CLIENT_LIST on the root window and, on _NET_CLOSE_WINDOW, destroys the window and
// drops it from the list (unless told to ignore the request).

#include "support/event_wait.h"
#include "support/private_x_server.h"

#include <x11windows/window_closer.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using chimewise::testsupport::PrivateXServer;
using chimewise::testsupport::RunEventsFor;
using chimewise::testsupport::RunEventsUntil;
using Windows = QList<x11windows::WindowId>;

class FakeWindowManager {
 public:
  explicit FakeWindowManager(const QString& display) {
    conn = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(conn)) return;
    xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(conn, &ewmh), nullptr);
    root = ewmh.screens[0]->root;
    // Client messages to the root window come to the manager through these masks.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(conn, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(conn);
    notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(conn), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { handleEvents(); });
    ok = true;
  }
  ~FakeWindowManager() {
    notifier.reset();
    if (ok) xcb_ewmh_connection_wipe(&ewmh);
    xcb_disconnect(conn);
  }
  xcb_window_t addWindow(const QByteArray& title) {
    const xcb_window_t w = xcb_generate_id(conn);
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, w, root, 0, 0, 100, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      ewmh.screens[0]->root_visual, 0, nullptr);
    xcb_ewmh_set_wm_name(&ewmh, w, uint32_t(title.size()), title.constData());
    clients.push_back(w);
    publish();
    return w;
  }
  void publish() {
    xcb_ewmh_set_client_list(&ewmh, 0, uint32_t(clients.size()), clients.data());
    xcb_flush(conn);
  }
  void handleEvents() {
    while (xcb_generic_event_t* ev = xcb_poll_for_event(conn)) {
      auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
      if ((ev->response_type & 0x7f) == XCB_CLIENT_MESSAGE && cm->type == ewmh._NET_CLOSE_WINDOW) {
        ++closeRequests;
        if (!ignoreClose) {
          std::erase(clients, cm->window);
          xcb_destroy_window(conn, cm->window);
          publish();
        }
      }
      std::free(ev);
    }
  }

  bool ok = false;
  xcb_connection_t* conn = nullptr;
  xcb_ewmh_connection_t ewmh{};
  xcb_window_t root = 0;
  std::vector<xcb_window_t> clients;
  std::unique_ptr<QSocketNotifier> notifier;
  int closeRequests = 0;
  bool ignoreClose = false;
};

// What a wait called back with.
struct WaitRecord {
  int calls = 0;
  bool allGone = false;
  std::function<void(bool)> callback() {
    return [this](bool gone) {
      ++calls;
      allGone = gone;
    };
  }
};

// Found by exact title only. The wait ends as soon as the manager has dropped the window, once,
// never from inside the call; a window that stays ends it at its limit. A cancelled wait, one
// replaced by the next and one whose closer goes never call back; the callback may destroy the closer.
TEST(WindowCloserTest, FindsClosesAndWaitsForWindowsThatGoOrStay) {
  static int argc = 1;
  static char name[] = "x11windows-tests";
  static char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  PrivateXServer server(QStringLiteral("640x480x24"));
  if (server.display().isEmpty()) GTEST_SKIP() << "Xvfb could not be started";
  const QString display = server.display();
  auto wm = std::make_unique<FakeWindowManager>(display);
  ASSERT_TRUE(wm->ok);

  wm->addWindow("Olm Toonpost mail");
  const xcb_window_t jokes = wm->addWindow("Olm Jesterbox (Guardian OFF)");
  auto closer = std::make_unique<x11windows::WindowCloser>(display);
  EXPECT_TRUE(closer->findByTitle("Olm Toonpost").isEmpty());
  ASSERT_EQ(closer->findByTitle("Olm Jesterbox (Guardian OFF)"), Windows({jokes}));
  ASSERT_TRUE(closer->requestClose({jokes}));
  WaitRecord gone;
  closer->whenGone({jokes}, 60000, gone.callback());
  EXPECT_EQ(gone.calls, 0);
  ASSERT_TRUE(RunEventsUntil([&] { return gone.calls > 0; }, 10000));
  EXPECT_TRUE(gone.allGone);
  EXPECT_FALSE(closer->waiting());

  wm->ignoreClose = true;
  const QList<x11windows::WindowId> stubborn = closer->findByTitle("Olm Toonpost mail");
  closer->requestClose(stubborn);
  WaitRecord cancelled, replaced, destroyed, limit;
  closer->whenGone(stubborn, 3600000, cancelled.callback());
  RunEventsFor(300);  // past a re-check, far from the limit
  EXPECT_TRUE(closer->waiting());
  closer->cancelWait();
  closer->whenGone(stubborn, 100, replaced.callback());
  closer->whenGone(stubborn, 150, [&](bool allGone) {
    limit.callback()(allGone);
    closer.reset();
  });
  ASSERT_TRUE(RunEventsUntil([&] { return limit.calls > 0; }, 10000));
  EXPECT_EQ(closer, nullptr);
  EXPECT_FALSE(limit.allGone);
  EXPECT_EQ(wm->closeRequests, 2);
  closer = std::make_unique<x11windows::WindowCloser>(display);
  closer->whenGone(stubborn, 100, destroyed.callback());
  closer.reset();
  RunEventsFor(400);  // past the limits: the waits are over and stay over
  EXPECT_EQ(cancelled.calls + replaced.calls + destroyed.calls, 0);
  EXPECT_EQ(limit.calls + gone.calls, 2);
}

}  // namespace
