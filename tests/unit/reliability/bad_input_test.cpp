// What installers may pass the exports: empty strings, strings of several kilobytes, bytes
// above 0x7F. Every string here ends its own heap block, so the sanitizer build catches a
// read past its terminator; the trace stays one line per event, each cut to 255 characters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "entry/exports.h"
#include "machine_fixture.h"
#include "reliability/machines.h"
#include "reliability/trace_checks.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace reliability {
namespace {

// A copy of the text whose terminator is the last byte of its heap block.
class HeapString {
public:
    explicit HeapString(std::string_view text) : block_(new char[text.size() + 1]) {
        std::memcpy(block_.get(), text.data(), text.size());
        block_[text.size()] = '\0';
    }
    const char* get() const { return block_.get(); }

private:
    std::unique_ptr<char[]> block_;
};

constexpr size_t kLong = 4096;

bool Removed(std::string_view instanceId) {
    const std::optional<kvxsim::Device> device = kvxsim::FindDevice(instanceId);
    return device && device->removed;
}

// Bytes 0x80 to 0xFF, and the same with bit 0x20 flipped: in Latin-1 the upper- and
// lower-case forms of the accented letters.
std::string HighBytes(unsigned char flip = 0) {
    std::string bytes;
    for (unsigned c = 0x80; c <= 0xFF; ++c) bytes.push_back(static_cast<char>(c ^ flip));
    return bytes;
}

class BadInput : public MachineTest {
protected:
    void TearDown() override {
        EXPECT_TRUE(TraceIsWellFormed(kvxsim::DebugOutput()));
        MachineTest::TearDown();
    }
};

TEST_F(BadInput, EmptyInstallPathsEndingTheirBlocksDoNothing) {
    const HeapString empty("");
    const HeapString path(kDz4xInf);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(empty.get(), path.get()), 0xFFFFFFFFu);
    EXPECT_EQ(KVXSetup_PnPInstallKVX(path.get(), empty.get()), 0xFFFFFFFFu);
    EXPECT_EQ(KVXSetup_PnPInstallKVX(nullptr, nullptr), 0xFFFFFFFFu);

    EXPECT_THAT(kvxsim::Journal(), IsEmpty());
}

TEST_F(BadInput, EmptyStringsReachThePlatformAsGiven) {
    kvxsim::AddService({.name = "tlxdaemon", .running = true});
    kvxsim::AddDevice({.instanceId = "PCI\\VEN_0E7C&DEV_0002\\4&1&0&08",
                       .service = "hxhw",
                       .hardwareIds = {"PCI\\VEN_0E7C&DEV_0002"}});
    const HeapString empty("");

    EXPECT_EQ(KVXSetup_CopyOemInf(empty.get(), SP_COPY_FORCE_IN_USE), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(KVXSetup_InstallPnpDevice(empty.get(), empty.get(), TRUE),
              DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(KVXSetup_RemoveDevices(empty.get(), empty.get(), empty.get()), 0u);
    EXPECT_EQ(KVXSetup_StopService(empty.get()), DWORD{ERROR_SERVICE_DOES_NOT_EXIST});

    EXPECT_FALSE(Removed("PCI\\VEN_0E7C&DEV_0002\\4&1&0&08"));
    EXPECT_EQ(kvxsim::FindService("tlxdaemon")->state, DWORD{SERVICE_RUNNING});
    EXPECT_THAT(
        kvxsim::DebugOutput(),
        ElementsAre("Return from SetupCopyOEMInf: 0, err=2, name=\n", "KVXSetup_InstallPnpDevice\n",
                    "", "\n", "", "\n", "RemoveDevices: Comparing with Service \"hxhw\"\n",
                    "SetupDiEnumDeviceInfo - no more items\n",
                    "StopService: failed to open service , err=1060 (424)\n"));
}

TEST_F(BadInput, FourKilobyteStringsAreUsedWholeAndTracedCut) {
    const std::string directory = "C:\\" + std::string(kLong - 12, 'k');
    const std::string inf = directory + "\\board.inf";
    const std::string id = "PCI\\VEN_0E7C&DEV_0002&" + std::string(kLong - 22, 'S');
    const std::string service(kLong, 's');
    const std::string provider(kLong, 'p');
    kvxsim::AddFile(inf, FamilyInf("hxhw"));
    kvxsim::AddFile("C:\\WINNT\\inf\\oem8.inf", "; Copyright 2004, Kavexa Systems Inc\r\n");
    kvxsim::AddDevice({.instanceId = "PCI\\VEN_0E7C&DEV_0002\\4&1&0&08",
                       .service = service,
                       .hardwareIds = {id + "&REV_01"},
                       .drivers = {{.description = "Hx PCI Board",
                                    .provider = provider,
                                    .infPath = "C:\\WINNT\\inf\\oem8.inf",
                                    .section = "Hx.NT"}}});
    kvxsim::AddService({.name = service, .running = true});
    const HeapString longInf(inf), longId(id), longService(service), longProvider(provider);

    EXPECT_EQ(KVXSetup_CopyOemInf(longInf.get(), SP_COPY_FORCE_IN_USE), 0u);
    EXPECT_EQ(KVXSetup_InstallPnpDevice(longInf.get(), longId.get(), TRUE),
              DWORD{ERROR_NO_SUCH_DEVINST});
    EXPECT_EQ(KVXSetup_RemoveDevices(longService.get(), longId.get(), longProvider.get()), 0u);
    EXPECT_EQ(KVXSetup_StopService(longService.get()), 0u);

    EXPECT_EQ(kvxsim::CountCalls("SetupCopyOEMInfA", inf), 1);
    EXPECT_EQ(kvxsim::CountCalls("UpdateDriverForPlugAndPlayDevicesA", id), 1);
    // The device's ID begins with the whole prefix; the platform's record holds only the
    // first 255 characters of the provider, so the driver package is another provider's.
    EXPECT_TRUE(Removed("PCI\\VEN_0E7C&DEV_0002\\4&1&0&08"));
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem8.inf"));
    EXPECT_EQ(kvxsim::FindService(service)->state, DWORD{SERVICE_STOPPED});
    // Written as they are, the path and the ID are pieces of lines of their own length.
    const std::vector<std::string> output = kvxsim::DebugOutput();
    EXPECT_EQ(std::count(output.begin(), output.end(), inf), 1);
    EXPECT_EQ(std::count(output.begin(), output.end(), id), 1);
    EXPECT_THAT(
        TraceLinesWith("Comparing with Service"),
        ElementsAre("RemoveDevices: Comparing with Service \"" + std::string(215, 's') + "\n"));
}

TEST_F(BadInput, ServiceNameTooLongForTheTraceLineIsCut) {
    const std::string service(kLong, 'n');
    const HeapString name(service);

    EXPECT_EQ(KVXSetup_StopService(name.get()), DWORD{ERROR_SERVICE_DOES_NOT_EXIST});

    EXPECT_THAT(kvxsim::DebugOutput(),
                ElementsAre("StopService: failed to open service " + std::string(218, 'n') + "\n"));
    EXPECT_EQ(kvxsim::CountCalls("OpenServiceA", service), 1);
}

// Only A to Z are letters to the comparisons: bytes above 0x7F that are upper- and
// lower-case letters in Latin-1 stay different.
TEST_F(BadInput, BytesAboveAsciiAreComparedExactly) {
    const std::string service = HighBytes() + "HXHW";
    const std::string prefix = "PCI\\VEN_0E7C&DEV_0002" + HighBytes();
    const std::string provider = "Kavexa Systems Inc \xC9";
    kvxsim::AddFile("C:\\WINNT\\inf\\oem8.inf", "; Copyright 2004, Kavexa Systems Inc\r\n");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem9.inf", "; Copyright 2004, Kavexa Systems Inc\r\n");
    // Same service as given but for the case of the ASCII letters: a match.
    kvxsim::AddDevice({.instanceId = "PCI\\VEN_0E7C&DEV_0002\\4&1&0&08",
                       .service = HighBytes() + "hxhw",
                       .hardwareIds = {"pci\\ven_0e7c&dev_0002" + HighBytes(0x20),
                                       "pci\\ven_0e7c&dev_0002" + HighBytes() + "&REV_01"},
                       .drivers = {{.description = "Hx",
                                    .provider = "KAVEXA SYSTEMS INC \xE9",
                                    .infPath = "C:\\WINNT\\inf\\oem8.inf"},
                                   {.description = "Hx",
                                    .provider = "KAVEXA SYSTEMS INC \xC9",
                                    .infPath = "C:\\WINNT\\inf\\oem9.inf"}}});
    // The accented letters in the other case: another service.
    kvxsim::AddDevice({.instanceId = "PCI\\VEN_0E7C&DEV_0002\\4&1&0&10",
                       .service = HighBytes(0x20) + "HXHW",
                       .hardwareIds = {prefix}});
    const HeapString givenService(service), givenPrefix(prefix), givenProvider(provider);

    EXPECT_EQ(KVXSetup_RemoveDevices(givenService.get(), givenPrefix.get(), givenProvider.get()),
              0u);

    EXPECT_TRUE(Removed("PCI\\VEN_0E7C&DEV_0002\\4&1&0&08"));
    EXPECT_FALSE(Removed("PCI\\VEN_0E7C&DEV_0002\\4&1&0&10"));
    EXPECT_EQ(TraceLinesWith("Match found").size(), 1u);
    EXPECT_EQ(TraceLinesWith("Comparing with Device ID").size(), 2u);
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem8.inf"));
    EXPECT_FALSE(kvxsim::FileExists("C:\\WINNT\\inf\\oem9.inf"));
}

TEST_F(BadInput, PathsAboveAsciiReachThePlatformUnchanged) {
    const std::string first = "C:\\Programme\\K\xE4vexa\\dz4x.inf";
    const std::string second = "C:\\Programme\\K\xE4vexa\\\xFF\x80.inf";
    kvxsim::AddFile(first, FamilyInf("dz4x"));
    kvxsim::AddFile(second, FamilyInf("hxhw"));
    const HeapString firstInf(first), secondInf(second);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(firstInf.get(), secondInf.get()), 0u);

    const std::vector<kvxsim::Call> stagings = kvxsim::Calls("SetupCopyOEMInfA");
    ASSERT_EQ(stagings.size(), 2u);
    EXPECT_EQ(stagings[0].args.at(0), first);
    EXPECT_EQ(stagings[1].args.at(0), second);
    EXPECT_EQ(kvxsim::CountCalls("UpdateDriverForPlugAndPlayDevicesA", second), 15);
}

}  // namespace
}  // namespace reliability
