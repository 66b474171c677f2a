// Measured startup cost: the level at each threshold, the reason as people
// read it, and the JSON form with nothing claimed that was not measured.
#include <gtest/gtest.h>

#include <vector>

#include "json/json.h"
#include "model/impact.h"

namespace qm::model {
namespace {

using Ms = std::optional<std::uint64_t>;

TEST(Impact, LevelsAtTheirThresholds) {
    struct Row {
        Ms processor, disk, delay;
        ImpactLevel level;
    };
    const std::vector<Row> rows = {
        {std::nullopt, std::nullopt, std::nullopt, ImpactLevel::not_measured},
        {0, 0, std::nullopt, ImpactLevel::low},
        {299, 300 * 1024 - 1, std::nullopt, ImpactLevel::low},
        {300, std::nullopt, std::nullopt, ImpactLevel::medium},
        {std::nullopt, 300 * 1024, std::nullopt, ImpactLevel::medium},
        {1000, 3 << 20, std::nullopt, ImpactLevel::medium},
        {1001, 0, std::nullopt, ImpactLevel::high},
        {0, (3 << 20) + 1, std::nullopt, ImpactLevel::high},
        {std::nullopt, std::nullopt, 4200, ImpactLevel::high},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(impact_level(row.processor, row.disk, row.delay), row.level)
            << row.processor.value_or(0) << " " << row.disk.value_or(0) << " " << row.delay.value_or(0);
    }
}

TEST(Impact, ReasonsAndJsonSayOnlyWhatWasMeasured) {
    const Impact sign_in = measured_impact(MeasuredBy::sign_in_records, 4, 1400, 12u << 20, std::nullopt);
    EXPECT_EQ(impact_reason(sign_in),
              "In the last 4 sign-ins it used 1.4 s of processor time and read 12 MB: high impact");
    EXPECT_EQ(json::write(impact_json(sign_in)),
              R"({"level":"high","measured":4,"source":"sign-in records","processor_ms":1400,"disk_bytes":12582912})");
    EXPECT_EQ(impact_reason(measured_impact(MeasuredBy::sign_in_records, 1, 120, 40 * 1024, std::nullopt)),
              "In the last sign-in it used 120 ms of processor time and read 40 KB: low impact");
    EXPECT_EQ(impact_reason(measured_impact(MeasuredBy::boot_log, 2, std::nullopt, std::nullopt, 3900)),
              "In the last 2 boots it delayed the start by 3.9 s: high impact");
    EXPECT_EQ(impact_reason(measured_impact(MeasuredBy::systemd, 1, std::nullopt, std::nullopt, 350)),
              "In this boot it took 350 ms to start: medium impact");

    for (const Impact& none : {Impact{}, measured_impact(MeasuredBy::sign_in_records, 0, 5000, 0, std::nullopt),
                               measured_impact(MeasuredBy::boot_log, 3, std::nullopt, std::nullopt, std::nullopt)}) {
        EXPECT_EQ(none.level, ImpactLevel::not_measured);
        EXPECT_EQ(impact_reason(none), "");
        EXPECT_EQ(json::write(impact_json(none)), R"({"level":"not measured"})");
    }
}

}  // namespace
}  // namespace qm::model
