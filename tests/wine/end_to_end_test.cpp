// The two composite exports on a machine with boards of both families, an earlier
// installation of the product and other products' things. Every test runs in a prefix of
// its own.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/devices.h"
#include "harness/files.h"
#include "harness/inventory.h"
#include "harness/module_test.h"
#include "harness/services.h"
#include "harness/test_inf.h"

namespace {

using kvxtest::FindRootDevice;
using kvxtest::Inventory;
using kvxtest::RegisterRootDevice;
using kvxtest::ToLower;
using Strings = std::vector<std::string>;

// The boards' hardware IDs in the order the installer goes through them.
const Strings kDz4xIds = {
    "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C", "PCI\\VEN_1011&DEV_0046&SUBSYS_60010E7C",
    "PCI\\VEN_1011&DEV_0046&SUBSYS_60020E7C", "PCI\\VEN_1011&DEV_0046&SUBSYS_60030E7C",
    "PCI\\VEN_1011&DEV_0046&SUBSYS_61000E7C", "PCI\\VEN_1011&DEV_0046&SUBSYS_65000E7C",
    "PCI\\VEN_8086&DEV_B555&SUBSYS_60000E7C", "PCI\\VEN_8086&DEV_B555&SUBSYS_60010E7C",
    "PCI\\VEN_8086&DEV_B555&SUBSYS_60020E7C", "PCI\\VEN_8086&DEV_B555&SUBSYS_60030E7C",
    "PCI\\VEN_8086&DEV_B555&SUBSYS_61000E7C", "PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C"};
const Strings kHxIds = {"PCI\\VEN_0E7C&DEV_0001",
                        "PCI\\VEN_0E7C&DEV_0002",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05070E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05090E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_050A0E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_050B0E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_050C0E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_050D0E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_050F0E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05100E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05110E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05140E7C",
                        "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05150E7C"};

// Boards as the bus reports them: revision first, then the ID the INFs list.
struct Board {
    const char* name;
    Strings ids;
    const char* driver_id;  // The ID an INF's model line matches.
};
const Board kDz4xBoards[] = {
    {"KVXDZA",
     {"PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C&REV_01", "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C",
      "PCI\\VEN_1011&DEV_0046"},
     "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C"},
    {"KVXDZB",
     {"PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C&REV_02", "PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C"},
     "PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C"},
};
const Board kHxBoards[] = {
    {"KVXHXA",
     {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C&REV_02", "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C",
      "PCI\\VEN_0E7C&DEV_0002"},
     "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C"},
    {"KVXHXLOW",
     {"pci\\ven_0e7c&dev_0001&rev_01", "pci\\ven_0e7c&dev_0001"},
     "pci\\ven_0e7c&dev_0001"},
};

kvxtest::TestInf FamilyInf(const std::string& service, const std::string& binary, int year,
                           const Strings& ids, const std::string& description) {
    kvxtest::TestInf inf;
    inf.first_line = kvxtest::ProductHeaderLine(year);
    inf.service = service;
    inf.binary = binary;
    inf.hardware_ids = ids;
    inf.description = description;
    return inf;
}

bool WriteInfStoreFile(const std::string& name, const std::string& text) {
    return kvxtest::WriteBinaryFile(kvxtest::InfDirectory() + name, text);
}

bool StartsWithAny(const std::string& line, const Strings& prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& prefix) {
        return ToLower(line).rfind(ToLower(prefix), 0) == 0;
    });
}

class EndToEnd : public kvxtest::ModuleTest {
protected:
    // Boards of both families and another product's devices, none with a driver yet.
    void PlugInBoards() {
        for (const Board& board : kDz4xBoards)
            ASSERT_TRUE(RegisterRootDevice(board.name, board.ids));
        for (const Board& board : kHxBoards) ASSERT_TRUE(RegisterRootDevice(board.name, board.ids));
        // Another product: a board whose ID begins with one of ours but that has its own
        // service, and a card.
        ASSERT_TRUE(RegisterRootDevice("OTHERBOARD", {kDz4xIds[0] + "&REV_09"}, "othernic"));
        ASSERT_TRUE(RegisterRootDevice("OTHERCARD", {"PCI\\VEN_10EC&DEV_8139"}, "othernic"));
        ASSERT_TRUE(kvxtest::CreateDriverService("othernic", "system32\\drivers\\othernic.sys"));
        ASSERT_TRUE(kvxtest::CreateEventLogSource("othernic"));
        ASSERT_TRUE(kvxtest::WriteBinaryFile(kvxtest::DriversDirectory() + "othernic.sys", "MZ"));
        kvxtest::TestInf other;
        other.first_line = "; Copyright 2003, Other Maker Ltd\r\n";
        other.provider = "Other Maker Ltd";
        other.service = "othernic";
        other.hardware_ids = {"PCI\\VEN_10EC&DEV_8139", kDz4xIds[0] + "&REV_09"};
        ASSERT_FALSE(kvxtest::StageInf(kvxtest::WriteTestInf("othernic.inf", other)).empty());
    }

    // What an earlier installation of the product left, and the INF store's history.
    void InstallEarlierProduct() {
        const std::string dz4x = kvxtest::StageInf(kvxtest::WriteTestInf(
            "kvxolddz.inf", FamilyInf("dz4x", "dz4xwin2k.sys", 2001, kDz4xIds, "Old Dz4x board")));
        Strings hx_ids = kHxIds;
        hx_ids.push_back("pci\\ven_0e7c&dev_0001");
        const std::string hx = kvxtest::StageInf(kvxtest::WriteTestInf(
            "kvxoldhx.inf", FamilyInf("hxhw", "hxhwwin2k.sys", 2002, hx_ids, "Old Hx board")));
        ASSERT_FALSE(dz4x.empty());
        ASSERT_FALSE(hx.empty());
        for (const Board& board : kDz4xBoards)
            ASSERT_TRUE(kvxtest::InstallDriver(dz4x, board.driver_id));
        for (const Board& board : kHxBoards)
            ASSERT_TRUE(kvxtest::InstallDriver(hx, board.driver_id));
        for (const Board& board : kDz4xBoards)
            ASSERT_EQ(FindRootDevice(board.name)->service, "dz4x");
        for (const Board& board : kHxBoards) ASSERT_EQ(FindRootDevice(board.name)->service, "hxhw");

        ASSERT_TRUE(kvxtest::CreateDriverService("Hx", "system32\\drivers\\hxwin2k.sys"));
        ASSERT_TRUE(kvxtest::CreateRunningService("tlxdaemon"));
        for (const char* source : {"Dz4x", "Hx", "Hxhw", "tlxdaemon"}) {
            ASSERT_TRUE(kvxtest::CreateEventLogSource(source));
        }
        for (const char* binary : {"hxwin2k.sys", "hxhwwin2k.sys", "dz4xwin2k.sys"}) {
            ASSERT_TRUE(kvxtest::WriteBinaryFile(kvxtest::DriversDirectory() + binary, "MZ"));
        }
        ASSERT_TRUE(WriteInfStoreFile("kvx.inf", "; anything\r\n"));
        ASSERT_TRUE(WriteInfStoreFile("kvx.pnf", "PNF"));
        // Staged copies of the product's INFs of every year, one with its header in
        // upper case; each with its precompiled file.
        for (int year = 2000; year <= 2004; ++year) {
            std::string header = kvxtest::ProductHeaderLine(year);
            if (year == 2003) CharUpperBuffA(header.data(), static_cast<DWORD>(header.size()));
            const std::string name = "oem" + std::to_string(year - 2000);
            ASSERT_TRUE(WriteInfStoreFile(name + ".inf", header + "[Version]\r\n"));
            ASSERT_TRUE(WriteInfStoreFile(name + ".pnf", "PNF"));
        }
        // Kept: another provider's, a header ended by a bare line feed, a lone .pnf.
        ASSERT_TRUE(
            WriteInfStoreFile("oem10.inf", "; Copyright 2003, Other Maker Ltd\r\n[Version]\r\n"));
        ASSERT_TRUE(WriteInfStoreFile("oem10.pnf", "PNF"));
        ASSERT_TRUE(
            WriteInfStoreFile("oem11.inf", "; Copyright 2004, Kavexa Systems Inc\n[Version]\r\n"));
        ASSERT_TRUE(WriteInfStoreFile("oem11.pnf", "PNF"));
        ASSERT_TRUE(WriteInfStoreFile("oem12.pnf", "PNF"));
        old_packages_ = {ToLower(dz4x), ToLower(hx)};
    }

    static std::string PrecompiledOf(const std::string& inf) {
        return inf.substr(0, inf.size() - 3) + "pnf";
    }

    // Lines of an inventory that a complete removal takes away.
    Strings ProductLines() const {
        Strings lines;
        for (const Board& board : kDz4xBoards)
            lines.push_back("device ROOT\\" + std::string(board.name) + "\\");
        for (const Board& board : kHxBoards)
            lines.push_back("device ROOT\\" + std::string(board.name) + "\\");
        for (const char* service : {"dz4x", "hx", "hxhw"}) {
            lines.push_back("service " + std::string(service) + "\n");
            lines.push_back("service key " + std::string(service) + "\n");
            lines.push_back("eventlog system\\" + std::string(service) + "\n");
        }
        const std::string inf = "inf " + ToLower(kvxtest::InfDirectory());
        for (const char* name :
             {"kvx.inf", "kvx.pnf", "oem0.inf", "oem0.pnf", "oem1.inf", "oem1.pnf", "oem2.inf",
              "oem2.pnf", "oem3.inf", "oem3.pnf", "oem4.inf", "oem4.pnf"}) {
            lines.push_back(inf + name + "\n");
        }
        // Each driver package's INF goes with the precompiled file staging wrote beside it.
        for (const std::string& package : old_packages_) {
            lines.push_back("inf " + package + "\n");
            lines.push_back("inf " + PrecompiledOf(package) + "\n");
        }
        const std::string driver = "driver " + ToLower(kvxtest::DriversDirectory());
        for (const char* name : {"hxwin2k.sys", "hxhwwin2k.sys", "dz4xwin2k.sys"}) {
            lines.push_back(driver + name + "\n");
        }
        return lines;
    }

    // `inventory` without the lines that begin with one of `prefixes` (a trailing "\n" in
    // a prefix asks for the whole line).
    static Inventory WithoutLines(const Inventory& inventory, const Strings& prefixes) {
        return kvxtest::Without(inventory, [&](const std::string& line) {
            return StartsWithAny(line + "\n", prefixes);
        });
    }

    Strings old_packages_;
};

TEST_F(EndToEnd, RemovalTakesTheWholeProductOffAndNothingElse) {
    KVX_EXPORT_OR_SKIP(remove, module(), KVXSetup_PnPRemoveKVX);
    ASSERT_NO_FATAL_FAILURE(PlugInBoards());
    ASSERT_NO_FATAL_FAILURE(InstallEarlierProduct());
    const Inventory before = kvxtest::TakeInventory();

    EXPECT_EQ(remove(), 0u);

    const Inventory after = kvxtest::TakeInventory();
    EXPECT_EQ(kvxtest::Difference(after, before), Inventory{}) << "appeared";
    EXPECT_EQ(kvxtest::Difference(WithoutLines(before, ProductLines()), after), Inventory{})
        << "removed although not the product's";
    EXPECT_EQ(kvxtest::Difference(after, WithoutLines(before, ProductLines())), Inventory{})
        << "the product's, still there";
    EXPECT_TRUE(kvxtest::WaitForServiceState("tlxdaemon", SERVICE_STOPPED));
    EXPECT_TRUE(kvxtest::ServiceExists("tlxdaemon"));
}

TEST_F(EndToEnd, NtPathImageLeavesTheFirstFamilysDevicesWhileTheRestIsRemoved) {
    KVX_EXPORT_OR_SKIP(remove, module(), KVXSetup_PnPRemoveKVX);
    ASSERT_NO_FATAL_FAILURE(PlugInBoards());
    ASSERT_NO_FATAL_FAILURE(InstallEarlierProduct());
    ASSERT_TRUE(
        kvxtest::WriteRegistryString(kvxtest::ServiceKeyPath("dz4x"), "ImagePath",
                                     "\\??\\C:\\windows\\system32\\drivers\\dz4xwin2k.sys"));
    const Inventory before = kvxtest::TakeInventory();

    EXPECT_EQ(remove(), 0u);

    // The first family's devices and their driver package stay; everything else of the
    // product goes, the first family's service included.
    Strings removed = ProductLines();
    removed.erase(std::remove_if(removed.begin(), removed.end(),
                                 [&](const std::string& line) {
                                     return line.rfind("device ROOT\\KVXDZ", 0) == 0 ||
                                            line == "inf " + old_packages_[0] + "\n" ||
                                            line == "inf " + PrecompiledOf(old_packages_[0]) + "\n";
                                 }),
                  removed.end());
    EXPECT_EQ(kvxtest::TakeInventory(), WithoutLines(before, removed));
    for (const Board& board : kDz4xBoards) {
        const auto device = FindRootDevice(board.name);
        ASSERT_TRUE(device.has_value()) << board.name;
        EXPECT_EQ(device->service, "dz4x");
    }
}

TEST_F(EndToEnd, InstallPutsEveryBoardOnTheGivenInfsAndGoesThroughTheCatalogueInOrder) {
    KVX_EXPORT_OR_SKIP(install, module(), KVXSetup_PnPInstallKVX);
    ASSERT_NO_FATAL_FAILURE(PlugInBoards());
    const std::string dz4x_inf = kvxtest::WriteTestInf(
        "kvxdz4x.inf", FamilyInf("dz4x", "dz4xwin2k.sys", 2004, kDz4xIds, "New Dz4x board"));
    const std::string hx_inf = kvxtest::WriteTestInf(
        "kvxhx.inf", FamilyInf("hxhw", "hxhwwin2k.sys", 2004, kHxIds, "New Hx board"));
    const auto other_board = FindRootDevice("OTHERBOARD");
    kvxtest::TakeTrace();

    EXPECT_EQ(install(dz4x_inf.c_str(), hx_inf.c_str()), 0u);

    // Every driver update, in order, as the module announced them.
    const Strings writes = kvxtest::TakeTrace();
    Strings updates;
    for (size_t i = 0; i + 4 < writes.size(); ++i) {
        if (writes[i] == "KVXSetup_InstallPnpDevice\n")
            updates.push_back(writes[i + 1] + " " + writes[i + 3]);
    }
    Strings expected;
    for (const std::string& id : kDz4xIds) expected.push_back(dz4x_inf + " " + id);
    for (const std::string& id : kHxIds) expected.push_back(hx_inf + " " + id);
    EXPECT_EQ(updates, expected);

    for (const Board& board : kDz4xBoards) {
        const auto device = FindRootDevice(board.name);
        ASSERT_TRUE(device.has_value()) << board.name;
        EXPECT_EQ(device->service, "dz4x") << board.name;
        EXPECT_EQ(device->driver_inf, "kvxdz4x.inf") << board.name;
    }
    // The lower-case board is left out: Wine matches hardware IDs case-sensitively.
    const auto hx_board = FindRootDevice(kHxBoards[0].name);
    ASSERT_TRUE(hx_board.has_value());
    EXPECT_EQ(hx_board->service, "hxhw");
    EXPECT_EQ(hx_board->driver_inf, "kvxhx.inf");
    EXPECT_EQ(FindRootDevice("OTHERBOARD")->service, other_board->service);
    EXPECT_TRUE(kvxtest::FileExists(kvxtest::InfDirectory() + "kvxdz4x.inf"));
    EXPECT_TRUE(kvxtest::FileExists(kvxtest::InfDirectory() + "kvxhx.inf"));
}

TEST_F(EndToEnd, ReinstallReplacesTheEarlierInstallation) {
    KVX_EXPORT_OR_SKIP(install, module(), KVXSetup_PnPInstallKVX);
    ASSERT_NO_FATAL_FAILURE(PlugInBoards());
    ASSERT_NO_FATAL_FAILURE(InstallEarlierProduct());
    // Boards added since then, without a driver yet.
    ASSERT_TRUE(RegisterRootDevice("KVXDZNEW", {kDz4xIds[5] + "&REV_04", kDz4xIds[5]}));
    ASSERT_TRUE(RegisterRootDevice("KVXHXNEW", {kHxIds[14]}));
    const std::string dz4x_inf = kvxtest::WriteTestInf(
        "kvxdz4x.inf", FamilyInf("dz4x", "dz4xwin2k.sys", 2004, kDz4xIds, "New Dz4x board"));
    const std::string hx_inf = kvxtest::WriteTestInf(
        "kvxhx.inf", FamilyInf("hxhw", "hxhwwin2k.sys", 2004, kHxIds, "New Hx board"));

    EXPECT_EQ(install(dz4x_inf.c_str(), hx_inf.c_str()), 0u);

    // Wine does not bring removed root devices back on re-enumeration, so only the boards
    // that had no driver are left to be seen; none of the product's devices may keep an
    // old driver.
    for (const kvxtest::Device& device : kvxtest::ListDevices()) {
        EXPECT_NE(device.driver_inf, "kvxolddz.inf") << device.instance_id;
        EXPECT_NE(device.driver_inf, "kvxoldhx.inf") << device.instance_id;
    }
    const auto dz4x = FindRootDevice("KVXDZNEW");
    const auto hx = FindRootDevice("KVXHXNEW");
    ASSERT_TRUE(dz4x.has_value());
    ASSERT_TRUE(hx.has_value());
    EXPECT_EQ(dz4x->service, "dz4x");
    EXPECT_EQ(dz4x->driver_inf, "kvxdz4x.inf");
    EXPECT_EQ(hx->service, "hxhw");
    EXPECT_EQ(hx->driver_inf, "kvxhx.inf");
    for (const char* stale :
         {"kvx.inf", "oem0.inf", "oem1.inf", "oem2.inf", "oem3.inf", "oem4.inf"}) {
        EXPECT_FALSE(kvxtest::FileExists(kvxtest::InfDirectory() + stale)) << stale;
    }
    for (const std::string& package : old_packages_)
        EXPECT_FALSE(kvxtest::FileExists(package)) << package;
    EXPECT_TRUE(kvxtest::ServiceExists("tlxdaemon"));
    EXPECT_FALSE(kvxtest::ServiceExists("Hx"));
}

TEST_F(EndToEnd, InstallWithAnEmptyPathDoesNothing) {
    KVX_EXPORT_OR_SKIP(install, module(), KVXSetup_PnPInstallKVX);
    ASSERT_NO_FATAL_FAILURE(PlugInBoards());
    ASSERT_NO_FATAL_FAILURE(InstallEarlierProduct());
    const std::string hx_inf = kvxtest::WriteTestInf(
        "kvxhx.inf", FamilyInf("hxhw", "hxhwwin2k.sys", 2004, kHxIds, "New Hx board"));
    const Inventory before = kvxtest::TakeInventory();
    kvxtest::TakeTrace();

    EXPECT_EQ(install("", hx_inf.c_str()), static_cast<DWORD>(-1));
    EXPECT_EQ(install(hx_inf.c_str(), nullptr), static_cast<DWORD>(-1));

    EXPECT_EQ(kvxtest::TakeTrace(), Strings{});
    EXPECT_EQ(kvxtest::TakeInventory(), before);
}

}  // namespace
