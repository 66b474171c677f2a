// Scan plus assessment of a large invented computer: 5,000 items judged
// against the built-in pack plus a 2,000-rule update. Reports items per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "knowledge/assessment.h"
#include "knowledge/builtin_pack.h"

namespace {

std::vector<qm::model::StartupItem> invented_items(std::size_t count) {
    static const char* words[] = {"acme", "update", "sync", "helper", "tray", "agent", "svc", "host", "cloud", "media"};
    std::vector<qm::model::StartupItem> items;
    items.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = std::string(words[i % 10]) + words[(i / 10) % 10] + std::to_string(i);
        const bool service = i % 3 == 0;
        qm::model::StartupItem item(service ? "service" : "run",
                                    service ? "Windows service" : "Registry (Run, this user)",
                                    service ? model::Scope::machine : model::Scope::user,
                                    service ? "Services" : "HKCU\\Run\\64", name);
        item.set_spec("short", i % 7 == 0 ? "cdpusersvc_" + std::to_string(10000 + i) : name);
        item.exe = "C:\\Program Files\\" + name + "\\" + name + ".exe";
        item.origin = i % 5 == 0 ? model::Origin::operating_system : model::Origin::installed_program;
        item.publisher = "Publisher " + std::to_string(i % 40);
        if (i % 50 == 0) item.dependents = {"a", "b", "c", "d", "e", "f", "g", "h"};
        items.push_back(std::move(item));
    }
    return items;
}

qm::knowledge::KnowledgePack update_pack(std::size_t rules) {
    qm::knowledge::KnowledgePack pack;
    pack.version = "2027.1.1";
    for (std::size_t i = 0; i < rules; ++i) {
        std::string core = "vendor" + std::to_string(i);
        std::string pattern = i % 10 == 0   ? core + "*"
                              : i % 10 == 1 ? "*" + core
                              : i % 10 == 2 ? "*" + core + "*"
                                            : core;
        pack.rules[0].push_back({pattern, "Invented rule.", static_cast<qm::model::Level>(i % 5)});
    }
    return pack;
}

void AssessLargeComputer(benchmark::State& state) {
    const std::vector<qm::model::StartupItem> items = invented_items(5000);
    const qm::knowledge::KnowledgePack update = update_pack(2000);
    for (auto _ : state) {
        qm::knowledge::Assessor assessor(qm::knowledge::builtin_pack(), update, "update 2027.1.1", "windows");
        std::size_t critical = 0;
        for (const qm::model::StartupItem& item : items)
            critical += assessor.assess(item).level == qm::model::Level::critical;
        benchmark::DoNotOptimize(critical);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * items.size()));
}
BENCHMARK(AssessLargeComputer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
