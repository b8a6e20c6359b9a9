#include "device/device_removal.h"

#include <stdint.h>
#include <string.h>

#include "common/case_insensitive.h"
#include "common/error_codes.h"
#include "common/multi_string.h"
#include "device/device_property.h"
#include "device/driver_packages.h"
#include "entry/exports.h"

bool RemoveDevice(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    if (SetupDiCallClassInstaller(DIF_REMOVE, devices, device)) return true;
    const DWORD error = GetLastError();
    char message[kTraceBufferSize];
    Trace(message, "SetupDiCallClassInstaller failed, err=%d\n", static_cast<int>(error));
    return false;
}

struct RemovalRequest {
    const char* serviceName;
    const char* prefix;
    size_t prefixLength;
    const char* providerName;
};

// Walks the hardware IDs in the buffer and removes the device on the first that begins
// with the prefix. Only the bytes the platform reported take part.
static void RemoveIfAnyIdMatches(HDEVINFO devices, SP_DEVINFO_DATA* device,
                                 const PropertyBuffer& ids, const RemovalRequest& request,
                                 char (&message)[kTraceBufferSize]) {
    const char* data = PropertyText(ids);
    const size_t size = ids.filled;
    for (size_t at = 0; MultiStringHasStringAt(data, size, at);
         at = MultiStringNextOffset(data, size, at)) {
        Trace(message, "RemoveDevices: Comparing with Device ID \"%s\"\n", data + at);
        if (!EqualsIgnoreCaseBounded(data + at, size - at, request.prefix, request.prefixLength)) {
            continue;
        }
        Trace(message, "RemoveDevices: Match found\n");
        RemoveDriverPackages(devices, device, request.providerName);
        RemoveDevice(devices, device);
        return;
    }
}

// False when the device is to be skipped: the property is missing (silently), there was
// no memory for it (already traced), or the query failed (traced with failedLine).
static bool ReadProperty(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property, DWORD size,
                         PropertyBuffer* buffer, const char* failedLine,
                         char (&message)[kTraceBufferSize]) {
    DWORD error = 0;
    const PropertyQuery outcome =
        QueryDevicePropertyGrowing(devices, device, property, size, buffer, &error, message);
    if (outcome == PropertyQuery::Failed) Trace(message, failedLine, error);
    return outcome == PropertyQuery::Filled;
}

static void RemoveDeviceIfRequested(HDEVINFO devices, SP_DEVINFO_DATA* device,
                                    PropertyBuffer* buffer, const RemovalRequest& request,
                                    char (&message)[kTraceBufferSize]) {
    if (!ReadProperty(devices, device, SPDRP_SERVICE, 0, buffer,
                      "SetupDiGetDeviceRegistryProperty(SVC) failed, err=%d\n", message)) {
        return;
    }
    const char* service = PropertyText(*buffer);
    Trace(message, "RemoveDevices: Comparing with Service \"%s\"\n", service);
    if (!EqualsIgnoreCaseBounded(service, buffer->filled, request.serviceName, SIZE_MAX)) return;
    Trace(message, "RemoveDevices: Service matches\n");

    if (!ReadProperty(devices, device, SPDRP_HARDWAREID, buffer->filled, buffer,
                      "SetupDiGetDeviceRegistryProperty(HWID) failed, err=%d\n", message)) {
        return;
    }
    RemoveIfAnyIdMatches(devices, device, *buffer, request, message);
}

static void RemoveMatchingDevices(HDEVINFO devices, const RemovalRequest& request,
                                  char (&message)[kTraceBufferSize]) {
    SP_DEVINFO_DATA device = {};
    for (DWORD index = 0;; ++index) {
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(devices, index, &device)) break;
        PropertyBuffer buffer = {nullptr, 0, 0};
        RemoveDeviceIfRequested(devices, &device, &buffer, request, message);
        FreePropertyBuffer(&buffer);
    }
    const DWORD ended = GetLastError();
    if (ended == ERROR_NO_MORE_ITEMS) {
        Trace(message, "SetupDiEnumDeviceInfo - no more items\n");
    } else {
        Trace(message, "SetupDiEnumDeviceInfo failed, err=%d\n", static_cast<int>(ended));
    }
}

extern "C" ErrorCode WINAPI KVXSetup_RemoveDevices(LPCSTR serviceName, LPCSTR hardwareIdPrefix,
                                                   LPCSTR providerName) {
    const RemovalRequest request = {serviceName, hardwareIdPrefix, strlen(hardwareIdPrefix),
                                    providerName};
    char message[kTraceBufferSize];
    // Present and phantom devices alike: a board taken out still has its driver installed.
    HDEVINFO devices = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Trace(message, "GetClassDevs failed, err=%d\n", static_cast<int>(error));
        return FailureResult(error);
    }
    RemoveMatchingDevices(devices, request, message);
    SetupDiDestroyDeviceInfoList(devices);
    return ERROR_SUCCESS;
}
