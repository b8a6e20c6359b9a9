#include "win32_common/system_class.h"

namespace kvxwin {

std::string SystemClassInfVersion(const std::string& driver_ver) {
    return "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=System\r\n"
           "ClassGuid={4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"
           "Provider=%Provider%\r\n"
           "DriverVer=" +
           driver_ver + "\r\n";
}

}  // namespace kvxwin
