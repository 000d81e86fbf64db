#pragma once
// Work off the thread of the windows and the reminder timer: see <offthread/off_thread.h>.

#include <offthread/off_thread.h>

namespace chimewise {

// A class of its own (not an alias), so that a header can declare it ahead.
template <typename Result>
class OffThread : public offthread::OffThread<Result> {
 public:
  using offthread::OffThread<Result>::OffThread;
};

using offthread::WorkQueue;

}  // namespace chimewise
