// Our own INF files for the tests: a driver for chosen hardware IDs that adds one service.
#pragma once

#include <string>
#include <vector>

namespace kvxtest {

inline constexpr char kProvider[] = "Kavexa Systems Inc";

// The first line of one of the product's INF files of `year` (2000 to 2004), 38 bytes.
std::string ProductHeaderLine(int year);

struct TestInf {
    std::string first_line = ProductHeaderLine(2004);  // Written as is, before [Version].
    std::string provider = kProvider;
    std::string service;  // AddService name; its binary is <service>.sys unless `binary`.
    std::string binary;
    std::vector<std::string> hardware_ids;
    std::string description = "Test board";
    std::string driver_version = "1.0.0.0";
};

std::string InfText(const TestInf& inf);

// Writes the INF into the scratch directory under `file_name`; returns its full path.
std::string WriteTestInf(const std::string& file_name, const TestInf& inf);

// Stages an INF into the INF store as an installer would have done earlier; returns the
// staged path, or an empty string on failure.
std::string StageInf(const std::string& source_path);

// Installs the INF's driver on the devices matching `hardware_id` through the platform.
bool InstallDriver(const std::string& inf_path, const std::string& hardware_id);

}  // namespace kvxtest
