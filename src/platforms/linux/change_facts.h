// The facts a cause of a change is named from, as this computer records
// them: when each item's entry was last written (a unit's enabling link or
// its file, an autostart file, the system crontab) and its program file; and
// what ran lately that may have written them: the packages the items come
// from, with when each was last installed or updated (its file list in
// dpkg's database), and the timers, with when each last fired (systemd's
// stamp files). A user's own crontab is read through `crontab -l` and has no
// time. Only files are looked at; nothing is run. Thread-safe.
#pragma once

#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

void add_change_facts(const LinuxContext& context, model::ScanResult& result);

}  // namespace qm::linux
