// The knowledge files kept in the source tree for the knowledge tests: the
// update pack in knowledge/updates, the lists of default Windows services in
// tests/knowledge, and the table of sources in docs. A file that cannot be
// read (the source tree is not always reachable from a Windows test run)
// comes back empty, and the tests that need it skip.
#pragma once

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "knowledge/knowledge_pack.h"
#include "util/text.h"

namespace qm::test {

inline std::optional<std::string> source_file(const std::string& relative) {
    std::ifstream in(std::string(QM_SOURCE_DIR) + "/" + relative, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline const char* const update_pack_path = "knowledge/updates/knowledge.json";

// The lines of a list file without comments and blank lines.
inline std::vector<std::string> list_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> split_on(const std::string& line, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t at = line.find(separator, start);
        parts.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

struct DefaultService {
    std::string key;  // as Windows writes it; for a per-user service the base name
    std::string display;
    std::string versions;  // "10", "11" or "10,11"
};

inline std::vector<DefaultService> default_services(const std::string& text) {
    std::vector<DefaultService> services;
    for (const std::string& line : list_lines(text)) {
        std::vector<std::string> parts = split_on(line, '|');
        if (parts.size() == 3) services.push_back({parts[0], parts[1], parts[2]});
    }
    return services;
}

}  // namespace qm::test
