// A test fixture: an engine on a fresh demonstration computer whose data
// folder is a scratch folder of its own, removed with everything in it when
// the test ends. Tests reach the engine as `engine()` and the scratch folder
// as `scratch()`.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/engine_context.h"

namespace qm::test {

class DemoEngineTest : public ::testing::Test {
protected:
    // `purpose` names the scratch folder, so a folder left behind by a crash
    // says which tests made it.
    explicit DemoEngineTest(std::string purpose) : purpose_(std::move(purpose)) {}
    void SetUp() override;
    void TearDown() override;

    [[nodiscard]] engine::EngineContext& engine() { return *engine_; }
    [[nodiscard]] const std::string& scratch() const { return scratch_; }

private:
    std::string purpose_;
    std::string scratch_;
    std::unique_ptr<engine::EngineContext> engine_;
};

}  // namespace qm::test
