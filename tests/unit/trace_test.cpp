#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <cstring>
#include <string>

#include "entry/exports.h"
#include "entry/trace.h"
#include "machine_fixture.h"

class TraceLine : public MachineTest {
protected:
    // The trace buffer with guard bytes behind it, to see any write past its 256 bytes.
    struct GuardedBuffer {
        char text[kTraceBufferSize];
        char guard[32];
    };

    static bool GuardIntact(const GuardedBuffer& buffer) {
        for (char c : buffer.guard) {
            if (c != '#') return false;
        }
        return true;
    }

    GuardedBuffer buffer_;
    void SetUp() override {
        MachineTest::SetUp();
        std::memset(&buffer_, '#', sizeof buffer_);
    }
};

TEST_F(TraceLine, ErrorShownSignedByDecimalAndUnsignedByHex) {
    Trace(buffer_.text, "Last Error: %x(%d)\n", DWORD{259}, DWORD{259});
    Trace(buffer_.text, "err=%d (%x)\n", DWORD{0xE000020B}, DWORD{0xE000020B});
    EXPECT_EQ(kvxsim::DebugOutput(),
              (std::vector<std::string>{"Last Error: 103(259)\n", "err=-536870389 (e000020b)\n"}));
}

TEST_F(TraceLine, EmptyStringArgumentStillEndsTheLine) {
    Trace(buffer_.text, "RemoveDevices: Comparing with Service \"%s\"\n", "");
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"RemoveDevices: Comparing with Service \"\"\n"});
}

TEST_F(TraceLine, LongExpansionIsCutTo255CharactersEndingInLineFeed) {
    for (size_t length : {254u, 255u, 256u, 300u, 1000u}) {
        kvxsim::ClearDebugOutput();
        const std::string description(length, 'd');
        Trace(buffer_.text, "%s\n", description.c_str());
        ASSERT_EQ(kvxsim::DebugOutput().size(), 1u);
        const std::string written = kvxsim::DebugOutput()[0];
        if (length + 1 <= 255) {
            EXPECT_EQ(written, description + "\n");
        } else {
            EXPECT_EQ(written, std::string(254, 'd') + "\n") << "expansion of " << length + 1;
        }
        EXPECT_TRUE(GuardIntact(buffer_));
    }
}

TEST(ModuleEntry, EveryReasonWritesOneLineAndLoadingSucceeds) {
    kvxsim::Reset();
    for (DWORD reason :
         {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(DllMain(nullptr, reason, nullptr), TRUE);
    }
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>(4, "TLX W2K Install DLLMain called\n"));
}
