/* Built the way an installer project uses the module: the public header and the import
 * library. Linking proves the import library resolves the names a C compiler emits for
 * the __stdcall declarations; it is never run. */
#include <kvxsetupw2k.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    if (KVXSetup_CopyOemInf(argv[1], 0x200) != 0) return 1;
    if (KVXSetup_InstallPnpDevice(argv[1], argv[2], TRUE) != 0) return 1;
    if (KVXSetup_RemoveDevices("dz4x", argv[2], "Kavexa Systems Inc") != 0) return 1;
    if (KVXSetup_StopService("tlxdaemon") != 0) return 1;
    if (KVXSetup_PnPInstallKVX(argv[1], argv[2]) != 0) return 1;
    return (int)KVXSetup_PnPRemoveKVX();
}
