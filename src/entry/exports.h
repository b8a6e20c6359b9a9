// The six exports, as the module itself and its Linux tests see them. Installers use
// include/kvxsetupw2k.h instead.
#pragma once

#include "common/error_codes.h"

extern "C" {
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

ErrorCode WINAPI KVXSetup_CopyOemInf(LPCSTR infPath, DWORD copyStyle);
ErrorCode WINAPI KVXSetup_InstallPnpDevice(LPCSTR infPath, LPCSTR hardwareId, BOOL force);
ErrorCode WINAPI KVXSetup_PnPInstallKVX(LPCSTR firstFamilyInf, LPCSTR secondFamilyInf);
ErrorCode WINAPI KVXSetup_PnPRemoveKVX(void);
ErrorCode WINAPI KVXSetup_RemoveDevices(LPCSTR serviceName, LPCSTR hardwareIdPrefix,
                                        LPCSTR providerName);
ErrorCode WINAPI KVXSetup_StopService(LPCSTR serviceName);
}
