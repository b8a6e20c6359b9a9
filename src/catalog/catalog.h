// Everything the module knows about the product: the boards' hardware IDs in the order
// they are installed and removed, and the names of the drivers' services, keys, binaries
// and INF files. Constant data; the sequences take their arguments from here.
#pragma once

#include <stddef.h>

// First board family.
inline constexpr const char* Dz4xHardwareIds[] = {
    "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C", "PCI\\VEN_1011&DEV_0046&SUBSYS_60010E7C",
    "PCI\\VEN_1011&DEV_0046&SUBSYS_60020E7C", "PCI\\VEN_1011&DEV_0046&SUBSYS_60030E7C",
    "PCI\\VEN_1011&DEV_0046&SUBSYS_61000E7C", "PCI\\VEN_1011&DEV_0046&SUBSYS_65000E7C",
    "PCI\\VEN_8086&DEV_B555&SUBSYS_60000E7C", "PCI\\VEN_8086&DEV_B555&SUBSYS_60010E7C",
    "PCI\\VEN_8086&DEV_B555&SUBSYS_60020E7C", "PCI\\VEN_8086&DEV_B555&SUBSYS_60030E7C",
    "PCI\\VEN_8086&DEV_B555&SUBSYS_61000E7C", "PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C",
};
inline constexpr const char* Dz4xDeviceService = "dz4x";
inline constexpr const char* Dz4xServiceKey = "SYSTEM\\CurrentControlSet\\Services\\dz4x";
inline constexpr const char* Dz4xServiceName = "Dz4x";
inline constexpr const char* Dz4xDriverBinary = "dz4xwin2k.sys";

// Second board family. Subsystems 050E, 0512 and 0513 are not the product's.
inline constexpr const char* HxHardwareIds[] = {
    "PCI\\VEN_0E7C&DEV_0001",
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
    "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05150E7C",
};
// As prefixes, the two device IDs cover every entry above.
inline constexpr const char* HxRemovalPrefixes[] = {HxHardwareIds[0], HxHardwareIds[1]};
inline constexpr const char* HxDeviceService = "hxhw";
inline constexpr const char* HxServiceKey = "SYSTEM\\CurrentControlSet\\Services\\hxhw";
inline constexpr const char* HxFirstServiceName = "Hx";
inline constexpr const char* HxServiceName = "Hxhw";
inline constexpr const char* HxDriverBinary = "hxwin2k.sys";
inline constexpr const char* HxhwDriverBinary = "hxhwwin2k.sys";

// Shared names.
inline constexpr const char* DriverProviderName = "Kavexa Systems Inc";
inline constexpr const char* BackgroundServiceName = "tlxdaemon";
inline constexpr const char* ImagePathValueName = "ImagePath";
inline constexpr const char* DriversSubdirectory = "drivers\\";
inline constexpr const char* InfSubdirectory = "inf\\";
inline constexpr const char* ProductInfName = "kvx.inf";
inline constexpr const char* ProductPnfName = "kvx.pnf";
inline constexpr const char* StagedInfPattern = "oem*.inf";
inline constexpr const char* PrecompiledInfExtension = "pnf";

// The first line of every INF the product ever staged; the text after the year is the
// driver provider's name.
inline constexpr size_t kInfHeaderLength = 38;
inline constexpr const char* InfHeaderLines[] = {
    "; Copyright 2000, Kavexa Systems Inc\r\n", "; Copyright 2001, Kavexa Systems Inc\r\n",
    "; Copyright 2002, Kavexa Systems Inc\r\n", "; Copyright 2003, Kavexa Systems Inc\r\n",
    "; Copyright 2004, Kavexa Systems Inc\r\n",
};
