#include "last_run_record.h"

#include <cstdio>

namespace {

DWORD SetText(HKEY key, const char* name, const std::string& value) {
    return static_cast<DWORD>(RegSetValueExA(key, name, 0, REG_SZ,
                                             reinterpret_cast<const BYTE*>(value.c_str()),
                                             static_cast<DWORD>(value.size() + 1)));
}

DWORD SetNumber(HKEY key, const char* name, DWORD value) {
    return static_cast<DWORD>(RegSetValueExA(key, name, 0, REG_DWORD,
                                             reinterpret_cast<const BYTE*>(&value), sizeof value));
}

std::string UtcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[32] = {};
    _snprintf(text, sizeof text - 1, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
              now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

DWORD WriteValues(HKEY key, const LastRunFacts& facts) {
    const DWORD results[] = {
        SetText(key, "Time", UtcNow()),
        SetText(key, "Package", facts.package),
        SetText(key, "Action", facts.action),
        SetText(key, "Version", facts.version),
        SetNumber(key, "ExitCode", facts.exit_code),
        SetNumber(key, "ModuleResult", facts.module_result),
        SetNumber(key, "RestartPending", facts.restart_pending ? 1 : 0),
        SetNumber(key, "Changes", facts.changes),
        SetNumber(key, "Refusals", facts.refusals),
        SetText(key, "Log", facts.log_path),
    };
    for (const DWORD result : results) {
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

bool ReadText(HKEY key, const char* name, std::string* value) {
    char text[16] = {};
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    text[size < sizeof text ? size : sizeof text - 1] = '\0';
    *value = text;
    return true;
}

bool ReadNumber(HKEY key, const char* name, DWORD* value) {
    DWORD type = 0;
    DWORD size = sizeof *value;
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof *value;
}

}  // namespace

DWORD WriteLastRunRecord(const LastRunFacts& facts) {
    HKEY key = nullptr;
    const LONG opened =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kLastRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr);
    if (opened != ERROR_SUCCESS) return static_cast<DWORD>(opened);
    const DWORD written = WriteValues(key, facts);
    RegCloseKey(key);
    return written;
}

bool LastRunIsFailedInstall(const char* package, DWORD* module_result) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLastRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    std::string recorded_package;
    std::string action;
    DWORD exit_code = 0;
    const bool failed_install = ReadText(key, "Package", &recorded_package) &&
                                recorded_package == package && ReadText(key, "Action", &action) &&
                                action == "install" && ReadNumber(key, "ExitCode", &exit_code) &&
                                exit_code == ERROR_INSTALL_FAILURE &&
                                ReadNumber(key, "ModuleResult", module_result);
    RegCloseKey(key);
    return failed_install;
}
