// Parse and write speed of the JSON module beside nlohmann::json, on two
// generated documents shaped like a scan result (about 100 kB and 3 MB).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "json/json.h"

namespace {

using qm::json::JsonValue;

// A small fixed-seed generator, so that every run measures the same text.
class Sequence {
public:
    std::uint64_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return state_ >> 33;
    }
    std::size_t below(std::size_t limit) { return static_cast<std::size_t>(next() % limit); }

private:
    std::uint64_t state_ = 0x5eed;
};

JsonValue make_item(Sequence& sequence, std::size_t index) {
    static const char* const names[] = {"Updater",
                                        "Cloud Sync",
                                        "Audio Helper",
                                        "Tray Icon",
                                        "Telemetry \"beta\"",
                                        "Caf\xC3\xA9 Launcher",
                                        "\xE6\x9B\xB4\xE6\x96\xB0",
                                        "Zoom\xE2\x84\xA2 Agent"};
    static const char* const kinds[] = {"run", "startup_folder", "service", "task"};
    static const char* const publishers[] = {"Contoso Ltd.", "M\xC3\xBCller GmbH", "Fabrikam, Inc.",
                                             "\xE6\xA0\xAA\xE5\xBC\x8F\xE4\xBC\x9A\xE7\xA4\xBE", ""};
    const std::string name = std::string(names[sequence.below(8)]) + " " + std::to_string(index);
    const std::string kind = kinds[sequence.below(4)];
    // Arguments of a chain are evaluated in order, so the sequence is drawn in key order.
    qm::json::ObjectBuilder item;
    item.string("id", kind + "|user|HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run|" + name)
        .string("kind", kind)
        .string("name", name)
        .string("command", "\"C:\\Program Files\\Vendor " + std::to_string(sequence.below(100)) +
                               "\\app.exe\" --background\t--level=" + std::to_string(sequence.below(9)))
        .string("publisher", publishers[sequence.below(5)])
        .flag("enabled", sequence.below(2) == 0)
        .flag("managed", sequence.below(4) == 0)
        .count("size", sequence.next())
        .number("impact", static_cast<double>(sequence.below(100000)) / 1000.0);
    JsonValue pids = JsonValue::array();
    for (std::size_t i = sequence.below(4); i > 0; --i) pids.push_back(static_cast<double>(sequence.below(60000)));
    item.value("pids", std::move(pids));
    JsonValue spec = JsonValue::array();
    for (std::size_t i = 1 + sequence.below(4); i > 0; --i) {
        spec.push_back(JsonValue::Array{"key" + std::to_string(i), "value " + std::to_string(sequence.next())});
    }
    item.value("spec", std::move(spec));
    JsonValue risk =
        qm::json::ObjectBuilder()
            .string("level", sequence.below(3) == 0 ? "high" : "low")
            .strings("reasons", {"starts at every sign-in", "signed by a known publisher", "line 1\nline 2"})
            .flag("critical", false)
            .done();
    return item.value("risk", std::move(risk)).done();
}

std::string make_document(std::size_t target_bytes) {
    Sequence sequence;
    JsonValue items = JsonValue::array();
    std::size_t bytes = 0;
    for (std::size_t index = 0; bytes < target_bytes; ++index) {
        JsonValue item = make_item(sequence, index);
        bytes += qm::json::write(item).size() + 1;
        items.push_back(std::move(item));
    }
    return qm::json::write(qm::json::ObjectBuilder()
                               .number("version", 1)
                               .string("computer",
                                       "DESKTOP-\xC3\x84"
                                       "BC")
                               .value("items", std::move(items))
                               .done());
}

const std::string& document(std::int64_t size) {
    static const std::string small = make_document(100 * 1000);
    static const std::string large = make_document(3 * 1000 * 1000);
    return size == 0 ? small : large;
}

void set_label(benchmark::State& state, const std::string& text) {
    state.SetLabel(std::to_string(text.size() / 1000) + " kB");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void parse_quillmoor(benchmark::State& state) {
    const std::string& text = document(state.range(0));
    for (auto _ : state) {
        auto value = qm::json::parse(text);
        if (!value) state.SkipWithError(value.error().message.c_str());
        benchmark::DoNotOptimize(value);
    }
    set_label(state, text);
}

void parse_nlohmann(benchmark::State& state) {
    const std::string& text = document(state.range(0));
    for (auto _ : state) {
        auto value = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(value);
    }
    set_label(state, text);
}

void write_quillmoor(benchmark::State& state) {
    const std::string& text = document(state.range(0));
    const JsonValue value = qm::json::parse(text).value();
    for (auto _ : state) {
        std::string out = qm::json::write(value);
        benchmark::DoNotOptimize(out);
    }
    set_label(state, text);
}

void write_nlohmann(benchmark::State& state) {
    const std::string& text = document(state.range(0));
    const nlohmann::json value = nlohmann::json::parse(text);
    for (auto _ : state) {
        std::string out = value.dump();
        benchmark::DoNotOptimize(out);
    }
    set_label(state, text);
}

// Argument 0 is the 100 kB document, 1 the 3 MB one.
BENCHMARK(parse_quillmoor)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(parse_nlohmann)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(write_quillmoor)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(write_nlohmann)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
