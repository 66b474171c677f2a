#include "support/demo_engine.h"

#include "platforms/demo/demo_platform.h"
#include "model/data_folder.h"
#include "os/files.h"
#include "support/run_program.h"

namespace qm::test {

void DemoEngineTest::SetUp() {
    scratch_ = make_scratch_folder(purpose_);
    engine_ = std::make_unique<engine::EngineContext>(std::make_unique<demo::DemoPlatform>(false),
                                                      model::data_folder_override(os::join_path(scratch_, "data")));
}

void DemoEngineTest::TearDown() {
    engine_.reset();
    (void)os::remove_tree(scratch_);
}

}  // namespace qm::test
