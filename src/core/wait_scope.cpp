#include "core/wait_scope.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <utility>
#include <vector>

namespace chimewise {

namespace {

int g_depth = 0;

struct Pending {
  QPointer<QObject> context;
  std::function<void()> step;
};

// Steps put off until the outermost wait returns. Only the program thread touches it.
std::vector<Pending>& pending() {
  static auto* steps = new std::vector<Pending>;  // never destroyed: may be used at exit
  return *steps;
}

void runSoon(QObject* context, std::function<void()> step) {
  QTimer::singleShot(0, context, [context, step = std::move(step)]() mutable {
    if (g_depth > 0) {
      pending().push_back({context, std::move(step)});
      return;
    }
    step();
  });
}

}  // namespace

WaitScope::WaitScope() { ++g_depth; }

WaitScope::~WaitScope() {
  if (--g_depth > 0 || pending().empty()) return;
  std::vector<Pending> steps;
  steps.swap(pending());
  for (Pending& p : steps)
    if (p.context) runSoon(p.context, std::move(p.step));
}

int WaitScope::depth() { return g_depth; }

void RunWhenNoWaitRuns(QObject* context, std::function<void()> step) { runSoon(context, std::move(step)); }

}  // namespace chimewise
