#include <gtest/gtest.h>

#include <cstring>

#include "common/case_insensitive.h"
#include "common/path_join.h"

TEST(CaseInsensitive, FoldsOnlyTheLettersAToZ) {
    EXPECT_TRUE(EqualsIgnoreCase("Kavexa Systems Inc", "KAVEXA SYSTEMS INC"));
    // Bytes 0x20 apart that are not letters must stay different.
    EXPECT_FALSE(EqualsIgnoreCase("[", "{"));
    EXPECT_FALSE(EqualsIgnoreCase("@", "`"));
    EXPECT_FALSE(EqualsIgnoreCase("\xC0", "\xE0"));
    EXPECT_FALSE(EqualsIgnoreCase("dz4x", "dz4"));
    EXPECT_FALSE(EqualsIgnoreCase("dz4", "dz4x"));
}

TEST(CaseInsensitive, BoundedTextEndsWhereItsDataEnds) {
    const char unterminated[] = {'P', 'C', 'I', '\\', 'V'};
    EXPECT_TRUE(EqualsIgnoreCaseBounded(unterminated, 3, "pci", 3));
    EXPECT_FALSE(EqualsIgnoreCaseBounded(unterminated, 3, "pci\\", 4));
    EXPECT_TRUE(EqualsIgnoreCaseBounded(unterminated, 5, "pci\\v", 5));
    EXPECT_TRUE(EqualsIgnoreCaseN("PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C", "pci\\ven_0e7c", 12));
    EXPECT_TRUE(EqualsIgnoreCaseN("anything", "", 0));
}

TEST(PathJoin, NeverCutsAPath) {
    char path[16] = "C:\\WINNT";
    EXPECT_TRUE(WithTrailingBackslash(path, sizeof path, std::strlen(path)));
    EXPECT_STREQ(path, "C:\\WINNT\\");
    EXPECT_TRUE(WithTrailingBackslash(path, sizeof path, std::strlen(path)));
    EXPECT_STREQ(path, "C:\\WINNT\\");
    EXPECT_FALSE(AppendText(path, sizeof path, "system32"));
    EXPECT_STREQ(path, "C:\\WINNT\\");
    EXPECT_TRUE(AppendText(path, sizeof path, "inf\\"));
    EXPECT_STREQ(path, "C:\\WINNT\\inf\\");

    char joined[8];
    EXPECT_FALSE(JoinPath(joined, sizeof joined, "C:\\", "oem1.inf"));
    EXPECT_STREQ(joined, "");
}
