// The programs installed through Windows' own record of them: the subkeys
// of the Uninstall keys of this computer (its 64-bit and 32-bit views) and
// of this user, each as an actor that may have written a startup entry when
// it was installed or changed. Its time is the subkey's last-write time,
// which an installer moves when it writes the program's values: more exact
// than InstallDate, which holds a day. A key that cannot be read adds
// nothing. Reads on a few threads (work_pool.h); thread-safe.
#pragma once

#include <vector>

#include "model/change_cause.h"

namespace qm::windows {

// Appends one installer actor per subkey with a DisplayName: that name, the
// InstallLocation as a folder (with a trailing backslash, so its vendor
// folder is what ties it to items), the Publisher and the time.
void add_installer_actors(std::vector<model::ChangeActor>& actors);

}  // namespace qm::windows
