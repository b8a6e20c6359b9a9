// Stand-in machines rich enough that one call of an export walks every branch of it: both
// board families, present and phantom boards, drivers of ours and of other providers,
// services in every state, staged INFs of ours and of others, the binaries and the keys.
#pragma once

#include <string>

namespace reliability {

inline constexpr const char* kProvider = "Kavexa Systems Inc";
inline constexpr const char* kDz4xInf = "C:\\KVX\\DZ4X\\dz4x.inf";
inline constexpr const char* kHxInf = "C:\\KVX\\HX\\hxhw.inf";
inline constexpr const char* kDz4xServiceKey = "SYSTEM\\CurrentControlSet\\Services\\dz4x";
inline constexpr const char* kHxhwServiceKey = "SYSTEM\\CurrentControlSet\\Services\\hxhw";
inline constexpr const char* kEventSources =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\";

// A complete installation of both families, with a stale INF of an older release, another
// provider's INF and drivers, devices of other services and devices without properties.
// Services: tlxdaemon and Dz4x running, Hx stopped, Hxhw running and slow to stop.
void BuildInstalledMachine();

// What a broken earlier installation leaves: tlxdaemon and Hxhw missing, Dz4x stuck in
// stop-pending, Hx refusing to stop, the first family's image path a native path, a system
// directory reported with a trailing backslash, and nothing of ours in the INF store.
void BuildDamagedMachine();

// Install media for both families and one new board of each, on a machine where an older
// release left tlxdaemon stop-pending, Dz4x stopped, Hxhw refusing to stop, and a board of
// the first family with its driver package.
void BuildUpgradeMachine();

// The INF text of one family's driver: a product header line, the service and its binary.
std::string FamilyInf(const std::string& service);

// Puts a service into SERVICE_STOP_PENDING through the platform itself. Call before the
// journal is cleared: the calls made here are not the module's.
void LeaveStopPending(const char* service);

}  // namespace reliability
