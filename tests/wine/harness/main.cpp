#include <gtest/gtest.h>

#include "harness/trace_capture.h"

// The capture comes first so that no write of the module, its entry lines included, is
// missed by a test.
int main(int argc, char** argv) {
    kvxtest::InstallTraceCapture();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
