#pragma once
// vmime wants its platform handler set once before any use.

namespace mailbox::detail {

void EnsureVmime();

}  // namespace mailbox::detail
