// Measured startup cost: the level at each threshold, the reason as people
// read it, the JSON form with nothing claimed that was not measured, and the
// figures of starting before and after a change.
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

// Figures before a change are every start measured; after it, only starts
// known to be later, so a start of unknown time is never taken for one after.
TEST(StartFigures, BeforeAndAfterAChangeAsTheHistoryShowsThem) {
    const std::vector<MeasuredStart> starts = {
        {StartKind::sign_in, 300, 31000}, {StartKind::boot, 290, 52000},    {StartKind::sign_in, 200, 32000},
        {StartKind::sign_in, 100, 38000}, {StartKind::sign_in, std::nullopt, 45000},
    };
    const StartFigures all = start_figures(starts);
    ASSERT_TRUE(all.sign_in && all.boot);
    EXPECT_EQ(all.sign_in->ms, 36500u);
    EXPECT_EQ(all.sign_in->measured, 4u);

    const StartFigures before = start_figures_from_json(json::parse(R"({"sign_in":{"ms":38200,"measured":3},)"
                                                                    R"("boot":{"ms":900,"measured":0}})")
                                                            .value());
    EXPECT_EQ(json::write(start_figures_json(before)), R"({"sign_in":{"ms":38200,"measured":3}})");
    EXPECT_EQ(change_effect_lines(before, start_figures(starts, 150)),
              std::vector<std::string>{"Sign-in: 38.2 s before (3 measured), 31.5 s after (2 measured)"});
    EXPECT_EQ(change_effect_lines(all, start_figures(starts, 300)),
              (std::vector<std::string>{"Sign-in: 36.5 s before (4 measured); none measured since",
                                        "Boot: 52.0 s before (1 measured); none measured since"}));
    EXPECT_TRUE(change_effect_lines(StartFigures{}, all).empty());
}

}  // namespace
}  // namespace qm::model
