#pragma once
// Waits on the program thread. A wait that runs an event loop inside a handler (a spoken line
// waited for, a modal box, a transfer) lets anything else happen under it, shutdown included.
// Each such wait holds a WaitScope; work that destroys what a wait may be using (the program's
// teardown) is put off with RunWhenNoWaitRuns until the outermost wait has returned.

#include <QObject>
#include <functional>

namespace chimewise {

class WaitScope final {
 public:
  WaitScope();
  ~WaitScope();
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;
  // How many waits are running now, nested in each other.
  static int depth();
};

// Runs `step` from the event loop once no wait is running: at the next turn of the loop when
// none runs then, else when the outermost one has returned. Dropped when `context` is
// destroyed first.
void RunWhenNoWaitRuns(QObject* context, std::function<void()> step);

}  // namespace chimewise
