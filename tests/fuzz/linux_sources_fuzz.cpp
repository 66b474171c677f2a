// libFuzzer target for what the Linux platform reads from outside: a
// crontab, the output of systemctl, dpkg's status file and file lists, and
// /proc's status and cmdline files, all taken from the input on a computer in
// a scratch folder.
// The first byte picks the source; any bytes give items or notes, never a
// crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "os/environment.h"
#include "os/files.h"
#include "os/random_hex.h"
#include "platforms/linux/cron_reboot.h"
#include "platforms/linux/packages.h"
#include "platforms/linux/program_lists.h"
#include "platforms/linux/systemd_units.h"

namespace {

const std::string& root() {
    static const std::string made = [] {
        std::string path =
            qm::os::join_path(qm::os::temp_folder(), "qm-fuzz-linux-" + qm::os::random_hex(6).value_or("0"));
        for (const char* folder :
             {"/var/spool/cron/crontabs", "/var/lib/dpkg/info", "/proc/4242", "/etc/systemd/system"}) {
            (void)qm::os::create_folders(path + folder);
        }
        (void)qm::os::write_file_replace(path + "/var/lib/dpkg/status", "Package: x\n");
        (void)qm::os::write_file_replace(path + "/etc/systemd/system/a.service",
                                         "[Service]\nExecStart=/bin/a\n[Install]\nWantedBy=multi-user.target\n");
        return path;
    }();
    return made;
}

qm::linux::LinuxContext context_with(std::string output) {
    qm::linux::LinuxContext context;
    context.root = qm::linux::LinuxRoot{root()};
    context.facts = qm::model::SystemFacts{"linux", "Fuzz Linux", "fuzz", "ada", "/home/ada", false, false, true, {}};
    context.runner = [output = std::move(output)](const qm::os::ToolRun&) {
        qm::os::RunOutput result;
        result.out = output;
        result.exit_code = 0;
        return result;
    };
    return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    qm::model::ScanResult result;
    switch (data[0] % 4) {
        case 0: {
            (void)qm::os::write_file_replace(root() + "/var/spool/cron/crontabs/ada", rest);
            qm::linux::scan_cron(context_with(""), result);
            break;
        }
        case 1: {
            qm::linux::LinuxContext context = context_with(rest);
            context.systemd_running = true;
            qm::linux::scan_units(context, {"service", "timer", "socket"}, result);
            break;
        }
        case 2: {
            // dpkg's status file up to the first \x01, the file list of a package "x" after it.
            const std::size_t cut = rest.find('\x01');
            (void)qm::os::write_file_replace(root() + "/var/lib/dpkg/status", rest.substr(0, cut));
            (void)qm::os::write_file_replace(root() + "/var/lib/dpkg/info/x.list",
                                             cut == std::string::npos ? std::string() : rest.substr(cut + 1));
            (void)qm::linux::package_owners({"/bin/a", "/usr/bin/b", "/lib/c"}, qm::linux::LinuxRoot{root()},
                                            context_with(rest).runner);
            break;
        }
        case 3: {
            const std::size_t cut = rest.find('\x01');
            (void)qm::os::write_file_replace(root() + "/proc/4242/status", rest.substr(0, cut));
            (void)qm::os::write_file_replace(root() + "/proc/4242/cmdline",
                                             cut == std::string::npos ? std::string() : rest.substr(cut + 1));
            (void)qm::linux::list_running(context_with(""), {});
            break;
        }
    }
    return 0;
}
