// The window's style sheet, as joined into the page at build time, for other
// documents that should look like the window (the fleet report's page). Both
// themes are in it: the light one on :root, the dark one on [data-theme=dark].
#pragma once

#include <string_view>

namespace qm::server {

// The text of the page's one <style> element, without the tags.
[[nodiscard]] std::string_view page_style_sheet();

}  // namespace qm::server
