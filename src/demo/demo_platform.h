// The demonstration computer: an invented Windows machine that answers all ten
// platform operations from memory, so everything can be tried without
// reading or changing anything real.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "util/result.h"

namespace qm {

// `with_markup_item` adds one item whose texts carry HTML markup, to check
// that the window shows every text as text.
[[nodiscard]] Result<std::unique_ptr<Platform>> make_demo_platform(bool with_markup_item);

}  // namespace qm
