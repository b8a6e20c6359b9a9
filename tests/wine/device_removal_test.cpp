// Removing the devices of one driver service whose hardware IDs begin with a prefix, with
// the INF files of their driver packages from our provider. Every test runs in a prefix
// of its own: the export walks, and may change, every device of the machine.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/devices.h"
#include "harness/files.h"
#include "harness/inventory.h"
#include "harness/module_test.h"
#include "harness/test_inf.h"

namespace {

using kvxtest::FindRootDevice;
using kvxtest::RegisterRootDevice;
using kvxtest::TakeTrace;
using kvxtest::ToLower;
using Lines = std::vector<std::string>;

const char kOtherProvider[] = "Other Maker Ltd";

// Stages a driver package of ours (or of `provider`) for `ids` into the INF store, where
// the platform finds the compatible drivers of a device; returns the staged path.
std::string StagePackage(const std::string& file_name, const std::vector<std::string>& ids,
                         const std::string& provider = kvxtest::kProvider) {
    kvxtest::TestInf inf;
    inf.service = "kvxboard";
    inf.provider = provider;
    inf.hardware_ids = ids;
    inf.description = file_name + " board";
    const std::string source = kvxtest::WriteTestInf(file_name, inf);
    return source.empty() ? source : kvxtest::StageInf(source);
}

bool Contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines from the first that begins with `first` on.
Lines From(const Lines& lines, const std::string& first) {
    const auto start = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.rfind(first, 0) == 0;
    });
    return Lines(start, lines.end());
}

using RemoveDevices = kvxtest::ModuleTest;

TEST_F(RemoveDevices, RemovesOnlyDevicesOfTheServiceWhoseIdsBeginWithThePrefix) {
    KVX_EXPORT_OR_SKIP(remove, module(), KVXSetup_RemoveDevices);
    // Removed: a revision suffix after the prefix, and a board written in lower case
    // whose service name is upper case.
    ASSERT_TRUE(RegisterRootDevice(
        "KVXREV",
        {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C&REV_01", "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C"},
        "hxhw"));
    ASSERT_TRUE(RegisterRootDevice("KVXLOWER", {"pci\\ven_0e7c&dev_0002&subsys_05070e7c"}, "HXHW"));
    // Kept: the prefix only inside an ID, another service, another device ID, no service.
    ASSERT_TRUE(RegisterRootDevice("KVXINSIDE", {"ROOT\\PCI\\VEN_0E7C&DEV_0002"}, "hxhw"));
    ASSERT_TRUE(
        RegisterRootDevice("KVXOTHERSVC", {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C"}, "othersvc"));
    ASSERT_TRUE(RegisterRootDevice("KVXDEV1", {"PCI\\VEN_0E7C&DEV_0001"}, "hxhw"));
    ASSERT_TRUE(RegisterRootDevice("KVXNOSVC", {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05090E7C"}));
    const std::string rev_package =
        StagePackage("kvxrev.inf", {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C"});
    const std::string lower_package =
        StagePackage("kvxlower.inf", {"pci\\ven_0e7c&dev_0002&subsys_05070e7c"});
    const std::string foreign_package =
        StagePackage("foreign.inf", {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C"}, kOtherProvider);
    const std::string kept_package =
        StagePackage("kvxkept.inf", {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C",
                                     "PCI\\VEN_0E7C&DEV_0001", "ROOT\\PCI\\VEN_0E7C&DEV_0002"});
    for (const std::string& path : {rev_package, lower_package, foreign_package, kept_package}) {
        ASSERT_FALSE(path.empty());
    }
    const kvxtest::Inventory before = kvxtest::TakeInventory();

    EXPECT_EQ(remove("hxhw", "PCI\\VEN_0E7C&DEV_0002", kvxtest::kProvider), 0u);

    const kvxtest::Inventory after = kvxtest::TakeInventory();
    EXPECT_EQ(kvxtest::Difference(after, before), kvxtest::Inventory{}) << "appeared";
    const kvxtest::Inventory gone = kvxtest::Difference(before, after);
    const auto is_gone = [&](const std::string& prefix) {
        return std::any_of(gone.begin(), gone.end(), [&](const std::string& line) {
            return ToLower(line).rfind(ToLower(prefix), 0) == 0;
        });
    };
    EXPECT_TRUE(is_gone("device ROOT\\KVXREV\\0000 "));
    EXPECT_TRUE(is_gone("device ROOT\\KVXLOWER\\0000 "));
    // Each package's INF goes with the precompiled file staging wrote beside it.
    for (const std::string& package : {rev_package, lower_package}) {
        EXPECT_TRUE(is_gone("inf " + package));
        EXPECT_TRUE(is_gone("inf " + package.substr(0, package.size() - 3) + "pnf"));
    }
    EXPECT_EQ(gone.size(), 6u) << "removed: " << testing::PrintToString(gone);
}

TEST_F(RemoveDevices, TracesTheWalkAndDeletesOnlyThePackageInfOfTheProvider) {
    KVX_EXPORT_OR_SKIP(remove, module(), KVXSetup_RemoveDevices);
    const std::string board_id = "PCI\\VEN_1011&DEV_0046&SUBSYS_61000E7C";
    ASSERT_TRUE(
        RegisterRootDevice("KVXTRACE", {"ACPI\\KVX0001", board_id + "&REV_03", board_id}, "Dz4x"));
    // Named so that the platform lists the foreign driver first.
    const std::string foreign = StagePackage("aforeign.inf", {board_id}, kOtherProvider);
    const std::string package = StagePackage("kvxtrace.inf", {board_id});
    ASSERT_FALSE(package.empty());
    ASSERT_FALSE(foreign.empty());
    TakeTrace();

    EXPECT_EQ(remove("dz4x", "pci\\ven_1011&dev_0046&subsys_61000e7c", "KAVEXA SYSTEMS INC"), 0u);

    const Lines lines = kvxtest::TraceLines(TakeTrace());
    Lines ours = From(lines, "RemoveDevices: Comparing with Service \"Dz4x\"");
    ASSERT_GE(ours.size(), 11u) << testing::PrintToString(lines);
    ours.resize(11);
    // The platform fills the names even though the detail record is too small for its
    // hardware-ID list; the size it asks for and its path separators are its own.
    const std::string detail_size = std::to_string(sizeof(SP_DRVINFO_DETAIL_DATA_A));
    EXPECT_EQ(
        ours[8].rfind("SetupDiGetDriverInfoDetail actual size = " + detail_size + ", required=", 0),
        0u)
        << ours[8];
    EXPECT_EQ(ours[9].rfind("InfFileName=\"", 0), 0u) << ours[9];
    const std::string section_end = "kvxtrace.inf\", section=\"BoardInstall\"\n";
    EXPECT_EQ(ours[9].substr(ours[9].size() - std::min(ours[9].size(), section_end.size())),
              section_end);
    ours[8] = ours[9] = "(checked above)";
    EXPECT_EQ(ours,
              (Lines{"RemoveDevices: Comparing with Service \"Dz4x\"\n",
                     "RemoveDevices: Service matches\n",
                     "RemoveDevices: Comparing with Device ID \"ACPI\\KVX0001\"\n",
                     "RemoveDevices: Comparing with Device ID \"" + board_id + "&REV_03\"\n",
                     "RemoveDevices: Match found\n",
                     "Driver 0: desc=\"aforeign.inf board\" provider=\"Other Maker Ltd\"\n",
                     "Driver 1: desc=\"kvxtrace.inf board\" provider=\"Kavexa Systems Inc\"\n",
                     "Driver provider matches\n", "(checked above)", "(checked above)",
                     "Last Error: 103(259)\n"}));
    EXPECT_EQ(lines.back(), "SetupDiEnumDeviceInfo - no more items\n");

    EXPECT_FALSE(FindRootDevice("KVXTRACE").has_value());
    EXPECT_FALSE(kvxtest::FileExists(package));
    EXPECT_TRUE(kvxtest::FileExists(foreign));
}

TEST_F(RemoveDevices, WithoutMatchesComparesEveryServiceAndEndsAtNoMoreItems) {
    KVX_EXPORT_OR_SKIP(remove, module(), KVXSetup_RemoveDevices);
    ASSERT_TRUE(RegisterRootDevice("KVXNOSVC", {"PCI\\VEN_0E7C&DEV_0001"}));
    ASSERT_TRUE(RegisterRootDevice("KVXOTHER", {"PCI\\VEN_0E7C&DEV_0001"}, "othersvc"));
    const std::vector<kvxtest::Device> devices = kvxtest::ListDevices();
    const auto with_service =
        std::count_if(devices.begin(), devices.end(),
                      [](const kvxtest::Device& d) { return !d.service.empty(); });
    const kvxtest::Inventory before = kvxtest::TakeInventory();
    TakeTrace();

    EXPECT_EQ(remove("hxhw", "PCI\\VEN_0E7C&DEV_0001", kvxtest::kProvider), 0u);

    const Lines lines = kvxtest::TraceLines(TakeTrace());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "SetupDiEnumDeviceInfo - no more items\n");
    const auto compared = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("RemoveDevices: Comparing with Service \"", 0) == 0;
    });
    EXPECT_EQ(compared, with_service);
    EXPECT_EQ(compared + 1, static_cast<long>(lines.size())) << testing::PrintToString(lines);
    EXPECT_TRUE(Contains(lines, "RemoveDevices: Comparing with Service \"othersvc\"\n"));
    EXPECT_EQ(kvxtest::TakeInventory(), before);
}

}  // namespace
