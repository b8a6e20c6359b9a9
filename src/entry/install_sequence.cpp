#include "catalog/catalog.h"
#include "entry/exports.h"

static bool IsAbsentOrEmpty(LPCSTR path) {
    return path == nullptr || path[0] == '\0';
}

// Results are ignored: an ID that matches no board on this machine is not a failure.
static void InstallFamily(LPCSTR infPath, const char* const* ids, size_t count) {
    for (size_t i = 0; i < count; ++i) KVXSetup_InstallPnpDevice(infPath, ids[i], TRUE);
}

// Has the platform look for boards that came up while the drivers were being replaced.
static void ReenumerateDeviceTree() {
    DEVINST root = 0;
    if (CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_PHANTOM) == CR_SUCCESS) {
        CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL);
    }
}

extern "C" ErrorCode WINAPI KVXSetup_PnPInstallKVX(LPCSTR firstFamilyInf, LPCSTR secondFamilyInf) {
    if (IsAbsentOrEmpty(firstFamilyInf) || IsAbsentOrEmpty(secondFamilyInf)) return kBadArguments;

    KVXSetup_PnPRemoveKVX();

    ErrorCode result = KVXSetup_CopyOemInf(firstFamilyInf, SP_COPY_FORCE_IN_USE);
    if (result != ERROR_SUCCESS) return result;
    InstallFamily(firstFamilyInf, Dz4xHardwareIds,
                  sizeof Dz4xHardwareIds / sizeof Dz4xHardwareIds[0]);

    result = KVXSetup_CopyOemInf(secondFamilyInf, SP_COPY_FORCE_IN_USE);
    if (result != ERROR_SUCCESS) return result;
    InstallFamily(secondFamilyInf, HxHardwareIds, sizeof HxHardwareIds / sizeof HxHardwareIds[0]);

    ReenumerateDeviceTree();
    return ERROR_SUCCESS;
}
