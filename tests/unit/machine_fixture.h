// A fresh stand-in machine for every test, and the check that the module left nothing
// open on it. Suites derive from MachineTest and name themselves after what they cover:
//
//     class RemoveDevices : public MachineTest {};
//     TEST_F(RemoveDevices, DeviceWithoutServiceIsSkippedSilently) { ... }
#pragma once

#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <string>
#include <string_view>
#include <vector>

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { kvxsim::Reset(); }

    void TearDown() override {
        const kvxsim::OpenCounts open = kvxsim::OpenResources();
        EXPECT_EQ(open.Total(), 0)
            << "scm " << open.scmHandles << ", services " << open.serviceHandles << ", keys "
            << open.registryKeys << ", files " << open.fileHandles << ", searches "
            << open.findHandles << ", device lists " << open.deviceLists << ", driver lists "
            << open.driverLists << ", local blocks " << open.localBlocks;
        EXPECT_EQ(kvxsim::BadLocalFrees(), 0);
    }
};

// Journal positions of every call of `function` that has `arg` among its arguments (any
// call when `arg` is empty), in order.
inline std::vector<int> CallPositions(std::string_view function, std::string_view arg = {}) {
    std::vector<int> positions;
    for (int at = kvxsim::FindCall(function, arg); at >= 0;
         at = kvxsim::FindCall(function, arg, at + 1)) {
        positions.push_back(at);
    }
    return positions;
}

// The debugger output lines that contain `text`.
inline std::vector<std::string> TraceLinesWith(std::string_view text) {
    std::vector<std::string> lines;
    for (const std::string& line : kvxsim::DebugOutput()) {
        if (line.find(text) != std::string::npos) lines.push_back(line);
    }
    return lines;
}
