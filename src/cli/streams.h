// Where a command writes: ordinary output and messages for the user. The
// program uses the process's standard streams; tests capture both.
#pragma once

#include <functional>
#include <string_view>

namespace qm::cli {

struct Streams {
    std::function<void(std::string_view)> out;
    std::function<void(std::string_view)> err;

    static Streams standard();
};

}  // namespace qm::cli
