/* KVXSETUPW2K.dll: installs and removes the Plug and Play drivers of the product's
 * PCI boards on Windows 2000 and later.
 *
 * Every export is __stdcall (WINAPI), takes narrow ANSI strings owned by the caller and
 * returns a Win32 error code (0 for success). Progress and failures are written to the
 * debugger output (OutputDebugStringA); watch them with any debug-output viewer. */
#ifndef KVXSETUPW2K_H
#define KVXSETUPW2K_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef KVXSETUP_API
#define KVXSETUP_API __declspec(dllimport)
#endif

/* Stages an INF into the system INF store (SetupCopyOEMInfA, SPOST_PATH) with the
 * given copy style. Returns 2 when the platform fails without an error code. */
KVXSETUP_API DWORD WINAPI KVXSetup_CopyOemInf(LPCSTR infPath, DWORD copyStyle);

/* Installs or updates, from infPath, the driver of every device matching hardwareId.
 * Only the low 8 bits of force count; non-zero forces the install. Returns 2 when the
 * platform fails without an error code. */
KVXSETUP_API DWORD WINAPI KVXSetup_InstallPnpDevice(LPCSTR infPath, LPCSTR hardwareId, BOOL force);

/* Removes any earlier installation, then stages both INFs and installs the drivers of
 * both board families. Returns (DWORD)-1 when either path is NULL or empty. */
KVXSETUP_API DWORD WINAPI KVXSetup_PnPInstallKVX(LPCSTR firstFamilyInf, LPCSTR secondFamilyInf);

/* Takes an installation of both board families off the machine. Always returns 0. */
KVXSETUP_API DWORD WINAPI KVXSetup_PnPRemoveKVX(void);

/* Removes every device of serviceName one of whose hardware IDs begins with
 * hardwareIdPrefix (letter case ignored), after deleting the INF files of its driver
 * packages from providerName. Returns 0, or the error when the device list cannot be
 * obtained (2 when the platform gives none). */
KVXSETUP_API DWORD WINAPI KVXSetup_RemoveDevices(LPCSTR serviceName, LPCSTR hardwareIdPrefix,
                                                 LPCSTR providerName);

/* Sends the stop control to serviceName and returns the outcome: 0, or the error of
 * opening the service manager or the service or of the stop control; 2 when one of them
 * fails without an error code. */
KVXSETUP_API DWORD WINAPI KVXSetup_StopService(LPCSTR serviceName);

#ifdef __cplusplus
}
#endif

#endif
