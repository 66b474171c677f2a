#include "server/page_style.h"

#include "embedded.h"

namespace qm::server {

std::string_view page_style_sheet() {
    // The build refuses a style sheet that holds "</style", so the first
    // closing tag after the opening one ends the sheet.
    const std::string_view page = embedded::page_html();
    const std::size_t open = page.find("<style>");
    if (open == std::string_view::npos) return {};
    const std::size_t begin = open + std::string_view("<style>").size();
    const std::size_t end = page.find("</style>", begin);
    if (end == std::string_view::npos) return {};
    return page.substr(begin, end - begin);
}

}  // namespace qm::server
