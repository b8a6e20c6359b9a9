#include "harness/test_inf.h"

#include <windows.h>
#include <setupapi.h>
#include <newdev.h>

#include "harness/files.h"
#include "win32_common/system_class.h"

namespace kvxtest {

std::string ProductHeaderLine(int year) {
    return "; Copyright " + std::to_string(year) + ", " + kProvider + "\r\n";
}

std::string InfText(const TestInf& inf) {
    const std::string binary = inf.binary.empty() ? inf.service + ".sys" : inf.binary;
    std::string text = inf.first_line;
    text += "\r\n" + kvxwin::SystemClassInfVersion("01/01/2004," + inf.driver_version);
    text +=
        "\r\n"
        "[Manufacturer]\r\n"
        "%Provider%=Boards\r\n"
        "\r\n"
        "[Boards]\r\n";
    for (const std::string& id : inf.hardware_ids)
        text += "%BoardDesc%=BoardInstall," + id + "\r\n";
    text +=
        "\r\n"
        "[BoardInstall]\r\n"
        "\r\n"
        "[BoardInstall.Services]\r\n"
        "AddService=" +
        inf.service +
        ",0x00000002,BoardService\r\n"
        "\r\n"
        "[BoardService]\r\n"
        "ServiceType=1\r\n"
        "StartType=3\r\n"
        "ErrorControl=1\r\n"
        "ServiceBinary=%12%\\" +
        binary +
        "\r\n"
        "\r\n"
        "[Strings]\r\n"
        "Provider=\"" +
        inf.provider +
        "\"\r\n"
        "BoardDesc=\"" +
        inf.description + "\"\r\n";
    return text;
}

std::string WriteTestInf(const std::string& file_name, const TestInf& inf) {
    const std::string path = ScratchDirectory() + file_name;
    return WriteBinaryFile(path, InfText(inf)) ? path : std::string();
}

std::string StageInf(const std::string& source_path) {
    char staged[MAX_PATH] = {};
    if (!SetupCopyOEMInfA(source_path.c_str(), nullptr, SPOST_PATH, 0, staged, sizeof staged,
                          nullptr, nullptr)) {
        return {};
    }
    return staged;
}

bool InstallDriver(const std::string& inf_path, const std::string& hardware_id) {
    BOOL reboot = FALSE;
    return UpdateDriverForPlugAndPlayDevicesA(nullptr, hardware_id.c_str(), inf_path.c_str(),
                                              INSTALLFLAG_FORCE, &reboot);
}

}  // namespace kvxtest
