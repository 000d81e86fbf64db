#include "core/shared_state.h"

namespace chimewise {

SharedState& State() {
  static SharedState state;
  return state;
}

}  // namespace chimewise
