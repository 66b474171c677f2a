#include "platforms/linux/change_facts.h"

#include <array>
#include <set>

#include "os/files.h"

namespace qm::linux {

namespace {

constexpr std::string_view dpkg_info_folder = "/var/lib/dpkg/info";
constexpr std::string_view system_timer_stamps = "/var/lib/systemd/timers";
constexpr std::string_view user_timer_stamps = ".local/share/systemd/timers";
// A package of another architecture keeps its list under "{name}:{arch}".
constexpr std::array<std::string_view, 6> list_architectures = {"amd64", "arm64", "i386", "armhf", "ppc64el", "s390x"};

std::string_view entry_word(model::ItemKind kind) {
    switch (kind) {
        case model::ItemKind::systemd:
        case model::ItemKind::systemd_user: return "the unit file was written";
        case model::ItemKind::autostart: return "the autostart file was written";
        case model::ItemKind::cron: return "the crontab was written";
        default: return "its entry was written";
    }
}

// When dpkg last installed or updated the package: its file list is written then.
std::int64_t package_time(const LinuxContext& context, const std::string& package) {
    if (package.empty() || package.find('/') != std::string::npos) return 0;
    const std::string folder(dpkg_info_folder);
    if (const FileTimes plain = file_times(context.root.at(folder + "/" + package + ".list")); plain.modified != 0)
        return plain.modified;
    for (const std::string_view architecture : list_architectures) {
        const FileTimes named =
            file_times(context.root.at(folder + "/" + package + ":" + std::string(architecture) + ".list"));
        if (named.modified != 0) return named.modified;
    }
    return 0;
}

}  // namespace

void add_change_facts(const LinuxContext& context, model::ScanResult& result) {
    std::set<std::string> packages;
    for (model::StartupItem& item : result.items) {
        if (const std::string& file = item.spec_value("file"); !file.empty()) {
            // An enabling link newer than the file says more; an older one less.
            const FileTimes written = file_times(context.root.at(file));
            if (written.modified > item.changed.time) item.changed = {written.modified, std::string(entry_word(item.kind))};
        }
        if (item.exe.starts_with('/')) {
            const FileTimes program = target_times(context.root.at(item.exe));
            item.exe_size = program.size;
            item.exe_time = program.modified;
        }
        if (!item.package.empty()) packages.insert(item.package);
        // A timer's stamp file is touched each time it fires.
        const std::string& unit = item.spec_value("unit");
        if (unit.ends_with(".timer")) {
            const std::string folder = item.kind == model::ItemKind::systemd
                                           ? std::string(system_timer_stamps)
                                           : os::join_path(context.facts.home, user_timer_stamps);
            const std::int64_t fired = file_times(context.root.at(folder + "/stamp-" + unit)).modified;
            if (fired != 0) {
                result.actors.push_back(model::ChangeActor{model::ActorKind::task, unit, item.id(), item.exe,
                                                           item.publisher, item.package, fired});
            }
        }
    }
    for (const std::string& package : packages) {
        if (const std::int64_t installed = package_time(context, package); installed != 0)
            result.actors.push_back(
                model::ChangeActor{model::ActorKind::package, package, "", "", "", package, installed});
    }
}

}  // namespace qm::linux
