#include "catalog/catalog.h"
#include "cleanup/inf_store_cleanup.h"
#include "common/path_join.h"
#include "common/system_directory.h"
#include "entry/exports.h"
#include "entry/image_path_test.h"
#include "service/service_control.h"

static void DeleteDriverBinaries() {
    char directory[kPathBufferSize];
    ErrorCode error = ERROR_SUCCESS;
    if (!QueryDirectoryPath(GetSystemDirectoryA, DriversSubdirectory, directory, &error)) return;
    const char* const binaries[] = {HxDriverBinary, HxhwDriverBinary, Dz4xDriverBinary};
    for (const char* binary : binaries) {
        char path[kPathBufferSize];
        if (JoinPath(path, sizeof path, directory, binary)) DeleteFileA(path);
    }
}

// A family's devices are removed only while its driver service is registered with an
// image path the removal may act on.
static void RemoveFamilyDevices(const char* serviceKey, const char* deviceService,
                                const char* const* ids, size_t count) {
    if (!HasUsableImagePath(serviceKey)) return;
    for (size_t i = 0; i < count; ++i) {
        KVXSetup_RemoveDevices(deviceService, ids[i], DriverProviderName);
    }
}

extern "C" ErrorCode WINAPI KVXSetup_PnPRemoveKVX(void) {
    StopServiceTolerant(BackgroundServiceName, nullptr);

    RemoveFamilyDevices(Dz4xServiceKey, Dz4xDeviceService, Dz4xHardwareIds,
                        sizeof Dz4xHardwareIds / sizeof Dz4xHardwareIds[0]);
    StopAndDeleteService(Dz4xServiceName);
    StopAndDeleteService(HxFirstServiceName);

    RemoveFamilyDevices(HxServiceKey, HxDeviceService, HxRemovalPrefixes,
                        sizeof HxRemovalPrefixes / sizeof HxRemovalPrefixes[0]);
    StopAndDeleteService(HxServiceName);

    RemoveOemInfFiles();
    DeleteDriverBinaries();
    return ERROR_SUCCESS;
}
