// When a task last ran, read from the Task Scheduler's DynamicInfo bytes:
// only the two record sizes Windows writes give a time, and a task that
// never ran gives none.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "formats/windows_values.h"

namespace qm::formats {
namespace {

// 2024-03-01 12:00:00 UTC as a Windows file time.
constexpr std::uint64_t ran_at = 133537680000000000ULL;
constexpr std::int64_t ran_at_unix = 1709294400;

std::string file_time_bytes(std::uint64_t ticks) {
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>((ticks >> (8 * i)) & 0xFF);
    return bytes;
}

// Version 3, registered a day before, the last run, two zero fields and,
// for the longer record, one more time.
std::string dynamic_info(std::uint64_t last_run, std::size_t size) {
    std::string bytes = std::string("\x03\0\0\0", 4) + file_time_bytes(ran_at - 864000000000ULL) +
                        file_time_bytes(last_run) + std::string(8, '\0');
    if (size > bytes.size()) bytes += file_time_bytes(ran_at);
    bytes.resize(size, '\0');
    return bytes;
}

TEST(TaskLastRun, OnlyTheKnownRecordSizesWithARunGiveATime) {
    const struct {
        std::string bytes;
        std::int64_t expected;
    } cases[] = {
        {dynamic_info(ran_at, 28), ran_at_unix},
        {dynamic_info(ran_at, 36), ran_at_unix},
        {dynamic_info(ran_at + 9999999, 36), ran_at_unix},  // parts of a second are dropped
        {dynamic_info(0, 36), 0},                           // never ran
        {dynamic_info(ran_at, 27), 0},                      // cut short
        {dynamic_info(ran_at, 20), 0},                      // ends inside the time
        {dynamic_info(ran_at, 32), 0},                      // a size no Windows writes
        {dynamic_info(ran_at, 44), 0},
        {std::string(), 0},
        {dynamic_info(116444736000000000ULL - 1, 28), 0},  // before 1970
    };
    for (const auto& c : cases) {
        EXPECT_EQ(task_last_run(c.bytes), c.expected) << c.bytes.size() << " bytes";
    }
}

}  // namespace
}  // namespace qm::formats
