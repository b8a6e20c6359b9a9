// The changes a call asked for while they were held back, gathered for the what-if report.
#pragma once

#include <string>
#include <vector>

// In the order the report lists them.
enum class Change {
    kServiceStopped,
    kServiceDeleted,
    kDeviceRemoved,
    kFileDeleted,
    kRegistryKeyDeleted,
    kInfStaged,
    kDriverUpdated,
    kDevicesReenumerated,
    kOtherHeldBack,  // A change the module's sequences do not make; held back all the same.
};

// Each change counts once, whatever the letter case of its names (the system ignores it):
// a device the preview leaves in place is asked for again by a later walk.
void RecordChange(Change change, const std::string& what);
bool WasRecorded(Change change, const std::string& what);

// One line per change, grouped and each group sorted: "would stop service tlxdaemon".
std::vector<std::string> DescribeRecordedChanges();
