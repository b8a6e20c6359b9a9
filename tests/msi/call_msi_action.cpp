// Calls one entry point of KvxMsiActions.dll the way Windows Installer does, with a session
// of a package opened in this process and CustomActionData set, and prints the messages the
// action sends to the installation's log. This reaches an action whatever the installer
// running it does: Wine's msiexec runs rollback actions only after the files are gone.
//
//   call_msi_action PACKAGE ENTRY CUSTOM_ACTION_DATA
//   call_msi_action PACKAGE --condition CONDITION [PROPERTY=VALUE]...
//
// Prints "log: TEXT" per message and "ENTRY returned N"; exits with N, or 2 when the
// action could not be called. With --condition, evaluates CONDITION (a sequence table's)
// in the package's session after setting the properties given, which reaches properties
// that msiexec sets after the command line (AdminUser), and prints "condition: true" or
// "condition: false".
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <stdio.h>
#include <string.h>

namespace {

using ActionEntry = UINT(WINAPI*)(MSIHANDLE);

int WINAPI PrintLogMessage(LPVOID, UINT type, LPCSTR message) {
    if ((type & 0xFF000000) == INSTALLMESSAGE_INFO && message) printf("log: %s\n", message);
    return 0;
}

int CallEntry(MSIHANDLE package, const char* entry_name) {
    HMODULE actions = LoadLibraryA("KvxMsiActions.dll");
    if (!actions) {
        printf("cannot load KvxMsiActions.dll: %lu\n", GetLastError());
        return 2;
    }
    const auto entry =
        reinterpret_cast<ActionEntry>(reinterpret_cast<void*>(GetProcAddress(actions, entry_name)));
    int result = 2;
    if (entry) {
        result = static_cast<int>(entry(package));
        printf("%s returned %d\n", entry_name, result);
    } else {
        printf("KvxMsiActions.dll has no %s\n", entry_name);
    }
    FreeLibrary(actions);
    return result;
}

int EvaluateCondition(MSIHANDLE package, int count, char** settings, const char* condition) {
    for (int i = 0; i < count; ++i) {
        char* equals = strchr(settings[i], '=');
        if (!equals) return 2;
        *equals = '\0';
        MsiSetPropertyA(package, settings[i], equals + 1);
    }
    const MSICONDITION value = MsiEvaluateConditionA(package, condition);
    if (value != MSICONDITION_TRUE && value != MSICONDITION_FALSE) {
        printf("condition: not valid\n");
        return 2;
    }
    printf("condition: %s\n", value == MSICONDITION_TRUE ? "true" : "false");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[2], "--condition") == 0) {
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        MSIHANDLE package = 0;
        if (MsiOpenPackageA(argv[1], &package) != ERROR_SUCCESS) return 2;
        const int result = EvaluateCondition(package, argc - 4, argv + 4, argv[3]);
        MsiCloseHandle(package);
        return result;
    }
    if (argc != 4) {
        printf("usage: call_msi_action PACKAGE ENTRY CUSTOM_ACTION_DATA\n");
        return 2;
    }
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIA(PrintLogMessage, INSTALLLOGMODE_INFO, nullptr);
    MSIHANDLE package = 0;
    const UINT opened = MsiOpenPackageA(argv[1], &package);
    if (opened != ERROR_SUCCESS) {
        printf("cannot open %s: %u\n", argv[1], opened);
        return 2;
    }
    int result = 2;
    if (MsiSetPropertyA(package, "CustomActionData", argv[3]) == ERROR_SUCCESS) {
        result = CallEntry(package, argv[2]);
    }
    MsiCloseHandle(package);
    return result;
}
