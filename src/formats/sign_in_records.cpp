#include "formats/sign_in_records.h"

#include <algorithm>
#include <cstdint>

#include "formats/xml_text.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::formats {
namespace {

// Processor time is kept in microseconds and disk use in bytes; a record
// that names another unit is read in it, and one it does not know is not
// read at all.
std::optional<std::uint64_t> measured(std::string_view process, std::string_view element, std::string_view usual_unit) {
    const std::vector<Element> found = find_elements(process, element);
    if (found.empty()) return std::nullopt;
    const std::optional<std::uint64_t> number = whole_number(element_text(found.front().whole, element));
    if (!number) return std::nullopt;
    const std::string unit = to_lower_ascii(attribute(found.front().whole, "Unit").value_or(std::string(usual_unit)));
    std::uint64_t scale = 0;
    if (unit == usual_unit) {
        scale = 1;
    } else if (usual_unit == "us" && unit == "ms") {
        scale = 1000;
    } else if (usual_unit == "bytes" && unit == "kb") {
        scale = 1024;
    }
    if (scale == 0 || *number > UINT64_MAX / scale) return std::nullopt;
    return *number * scale;
}

}  // namespace

std::optional<std::uint64_t> whole_number(std::string_view text) {
    const std::string trimmed = trim(text);
    if (trimmed.empty() || trimmed.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : trimmed) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

SignInRecord read_sign_in_record(std::string_view document) {
    SignInRecord record;
    // From the StartupData start tag on, closed or not: a file cut short
    // still gives the processes it holds whole.
    std::size_t start = document.find("<StartupData");
    while (start != std::string_view::npos && start + 12 < document.size() &&
           std::string_view(" \t\r\n>/").find(document[start + 12]) == std::string_view::npos)
        start = document.find("<StartupData", start + 1);
    if (start == std::string_view::npos || start + 12 >= document.size()) return record;
    const std::string_view data = document.substr(start);
    record.started = attribute(data, "StartTime").value_or("");
    for (const Element& process : find_elements(data, "Process")) {
        SignInProcess read;
        read.program = attribute(process.whole, "Name").value_or("");
        read.started = attribute(process.whole, "StartTime").value_or("");
        read.command_line = element_text(process.content, "CommandLine");
        read.processor_us = measured(process.content, "CpuUsage", "us");
        read.disk_bytes = measured(process.content, "DiskUsage", "bytes");
        record.processes.push_back(std::move(read));
    }
    return record;
}

std::map<std::string, SignInCost> sign_in_costs(const std::vector<SignInRecord>& records,
                                                const std::function<std::string(std::string_view)>& key) {
    struct Sum {
        SignInCost cost;
        std::size_t last_record = SIZE_MAX;
    };
    std::map<std::string, Sum> sums;
    const std::optional<std::int64_t> newest_began =
        records.empty() ? std::nullopt : read_time_text_ms(records.front().started);
    for (std::size_t r = 0; r < records.size(); ++r) {
        for (const SignInProcess& process : records[r].processes) {
            if (process.program.empty()) continue;
            Sum& sum = sums[key(process.program)];
            if (r == 0 && newest_began) {
                const std::optional<std::int64_t> started = read_time_text_ms(process.started);
                if (started && *started >= *newest_began) {
                    const auto offset = static_cast<std::uint64_t>(*started - *newest_began);
                    if (!sum.cost.started_ms || offset < *sum.cost.started_ms) sum.cost.started_ms = offset;
                }
            }
            if (sum.last_record != r) {
                sum.last_record = r;
                ++sum.cost.sign_ins;
            }
            // Sums saturate: no sign-in costs anywhere near 2^64 microseconds,
            // so only a damaged record could get there.
            if (process.processor_us) {
                sum.cost.processor_known = true;
                sum.cost.processor_us += std::min(*process.processor_us, UINT64_MAX - sum.cost.processor_us);
            }
            if (process.disk_bytes) {
                sum.cost.disk_known = true;
                sum.cost.disk_bytes += std::min(*process.disk_bytes, UINT64_MAX - sum.cost.disk_bytes);
            }
        }
    }
    std::map<std::string, SignInCost> costs;
    for (auto& [program, sum] : sums) {
        SignInCost cost = sum.cost;
        cost.processor_us /= cost.sign_ins;
        cost.disk_bytes /= cost.sign_ins;
        costs.emplace(program, cost);
    }
    return costs;
}

std::optional<std::uint32_t> sign_in_record_number(std::string_view file_name, std::string_view sid) {
    const std::string name = to_lower_ascii(file_name);
    const std::string prefix = to_lower_ascii(sid) + "_startupinfo";
    constexpr std::string_view suffix = ".xml";
    if (sid.empty() || name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix))
        return std::nullopt;
    const std::string_view digits =
        std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::optional<std::uint64_t> number = whole_number(digits);
    if (!number) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

}  // namespace qm::formats
