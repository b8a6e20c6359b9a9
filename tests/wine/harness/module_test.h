// Base fixture of the suites that call exports: the module is loaded for each test and
// the trace taken before the test acts starts empty.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "harness/module.h"
#include "harness/trace_capture.h"

namespace kvxtest {

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = std::make_unique<LoadedModule>();
        ASSERT_NE(module_->handle(), nullptr)
            << kModuleName << " did not load, err=" << module_->load_error();
        TakeTrace();
    }
    void TearDown() override { module_.reset(); }

    const LoadedModule& module() const { return *module_; }

private:
    std::unique_ptr<LoadedModule> module_;
};

}  // namespace kvxtest
