#pragma once

namespace agent {

// True when translucent windows are blended by a compositing manager (or the platform is not
// X11, where there is nothing to work around). Without one, translucent pixels show black,
// so the character's windows cut themselves to shape instead.
bool compositingManagerRunning();

}  // namespace agent
