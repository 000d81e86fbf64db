#include "x11_compositor.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdlib>

namespace agent {

bool compositingManagerRunning() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return true;
  // The compositing manager of screen N owns the selection _NET_WM_CM_SN.
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const int screens = setup ? xcb_setup_roots_length(setup) : 1;
  for (int screen = 0; screen < screens; ++screen) {
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom) continue;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    std::free(atom);
    if (owned) return true;
  }
  return false;
}

}  // namespace agent
