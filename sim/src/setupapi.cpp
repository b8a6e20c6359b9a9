// setupapi, newdev and cfgmgr32 on the stand-in machine: staging INFs, installing drivers,
// device and driver lists, device properties, device removal and the device tree.
#include "machine_state.h"

#include <algorithm>
#include <cstddef>

using namespace kvxsim;
using namespace kvxsim::detail;

namespace {

std::lock_guard<std::mutex> Locked() {
    return std::lock_guard<std::mutex>(MachineLock());
}

constexpr DWORD kDetailFixedSize = offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID);
// Every device reports the same (made-up) setup class.
constexpr GUID kDeviceClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

bool HasHardwareId(const Device& device, std::string_view hardwareId) {
    return std::any_of(device.hardwareIds.begin(), device.hardwareIds.end(),
                       [&](const std::string& id) { return EqualNoCase(id, hardwareId); });
}

// The device an SP_DEVINFO_DATA names within a list, checked as setupapi checks it.
struct Member {
    HandleRecord* list = nullptr;
    size_t index = 0;  // into Machine::devices
    DWORD error = ERROR_SUCCESS;
    DeviceRecord& Record() const { return TheMachine().devices[index]; }
};

Member ResolveMember(HDEVINFO set, const SP_DEVINFO_DATA* data) {
    Member member;
    member.list = FindHandle(set, HandleKind::kDeviceList);
    if (!member.list) {
        member.error = ERROR_INVALID_HANDLE;
    } else if (!data) {
        member.error = ERROR_INVALID_PARAMETER;
    } else if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        member.error = ERROR_INVALID_USER_BUFFER;
    } else {
        member.index = data->Reserved - 1;
        const auto& isMember = member.list->isMember;
        if (data->Reserved == 0 || member.index >= isMember.size() || !isMember[member.index]) {
            member.error = ERROR_INVALID_PARAMETER;
        }
    }
    return member;
}

std::string InstanceIdOf(HDEVINFO set, const SP_DEVINFO_DATA* data) {
    const Member member = ResolveMember(set, data);
    return member.error ? std::string() : member.Record().device.instanceId;
}

// The property's bytes as the device reports them; nullopt when it has no such property.
std::optional<std::string> PropertyBytes(const DeviceRecord& record, DWORD property) {
    const Device& device = record.device;
    if (property == SPDRP_SERVICE) {
        if (record.rawService) return *record.rawService;
        if (!device.service) return std::nullopt;
        return *device.service + '\0';
    }
    if (property != SPDRP_HARDWAREID) return std::nullopt;
    std::string bytes;
    if (record.rawHardwareIds) {
        bytes = *record.rawHardwareIds;
    } else {
        if (device.hardwareIds.empty()) return std::nullopt;
        for (const std::string& id : device.hardwareIds) bytes += id + '\0';
        bytes += '\0';
    }
    if (record.reportedHardwareIdSize) bytes.resize(*record.reportedHardwareIdSize, '\0');
    return bytes;
}

std::string HardwareIdList(const Driver& driver) {
    if (driver.hardwareId.empty()) return std::string(1, '\0');
    return driver.hardwareId + '\0' + '\0';
}

const Driver* SelectedDriver(const Member& member, const SP_DRVINFO_DATA_V2_A* data, DWORD* error) {
    const auto& lists = member.list->driverLists;
    const auto list = lists.find(member.index);
    if (!data) {
        *error = ERROR_NO_DRIVER_SELECTED;
    } else if (data->cbSize != sizeof(SP_DRVINFO_DATA_V2_A) &&
               data->cbSize != sizeof(SP_DRVINFO_DATA_V1_A)) {
        *error = ERROR_INVALID_USER_BUFFER;
    } else if (list == lists.end() || data->Reserved == 0 || data->Reserved > list->second.size()) {
        *error = ERROR_INVALID_PARAMETER;
    } else {
        return &list->second[data->Reserved - 1];
    }
    return nullptr;
}

// Installing a driver also installs its service, as the INF's AddService does: the service
// exists and runs, its key holds the image path, and its binary is in the drivers directory.
void InstallService(const InfSummary& inf, const std::string& infPath) {
    Machine& m = TheMachine();
    std::string binary =
        inf.serviceBinary.empty() ? "%12%\\" + inf.service + ".sys" : inf.serviceBinary;
    const std::string fileName = SplitPath(binary).second;
    if (EqualNoCase(binary.substr(0, 4), "%12%")) {
        binary = "System32\\DRIVERS" + binary.substr(4);
    }
    Service& service = m.services[Upper(inf.service)];
    if (service.name.empty()) service.name = inf.service;
    service.state = SERVICE_RUNNING;
    service.running = true;

    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + service.name;
    CreateKey(key);
    std::string imagePath = binary + '\0';
    m.keys[Upper(key)].values["IMAGEPATH"] = {"ImagePath",
                                              RegistryValue{REG_EXPAND_SZ, std::move(imagePath)}};

    const FileRecord* source = LookupFile(JoinPath(SplitPath(infPath).first, fileName));
    PutFile(JoinPath(JoinPath(m.systemDirectory, "drivers"), fileName),
            source ? source->contents : std::string());
}

}  // namespace

extern "C" {

BOOL WINAPI SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation,
                             DWORD OEMSourceMediaType, DWORD CopyStyle, PSTR DestinationInfFileName,
                             DWORD DestinationInfFileNameSize, PDWORD RequiredSize,
                             PSTR* DestinationInfFileNameComponent) {
    (void)OEMSourceMediaLocation;
    auto lock = Locked();
    const std::string sourcePath = Str(SourceInfFileName);
    if (const auto error =
            Enter("SetupCopyOEMInfA", {sourcePath, Hex(OEMSourceMediaType), Hex(CopyStyle)})) {
        return FailWith(*error);
    }
    if (!SourceInfFileName || OEMSourceMediaType > SPOST_URL) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const FileRecord* source = LookupFile(sourcePath);
    if (!source) return FailWith(ERROR_FILE_NOT_FOUND);
    if (!SharingAllows(*source, GENERIC_READ, FILE_SHARE_READ)) {
        return FailWith(ERROR_SHARING_VIOLATION);
    }

    const size_t filesBefore = TheMachine().files.size();
    const std::string staged = StageInf(*source);
    const bool reused = TheMachine().files.size() == filesBefore;
    const DWORD required = static_cast<DWORD>(staged.size() + 1);
    if (RequiredSize) *RequiredSize = required;
    if (DestinationInfFileName) {
        if (DestinationInfFileNameSize < required) return FailWith(ERROR_INSUFFICIENT_BUFFER);
        memcpy(DestinationInfFileName, staged.c_str(), required);
        if (DestinationInfFileNameComponent) {
            *DestinationInfFileNameComponent =
                DestinationInfFileName + (staged.size() - SplitPath(staged).second.size());
        }
    }
    if (reused && (CopyStyle & SP_COPY_NOOVERWRITE)) return FailWith(ERROR_FILE_EXISTS);
    return TRUE;
}

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId,
                                               LPCSTR FullInfPath, DWORD InstallFlags,
                                               PBOOL bRebootRequired) {
    (void)hwndParent;
    auto lock = Locked();
    const std::string hardwareId = Str(HardwareId);
    const std::string infPath = Str(FullInfPath);
    if (const auto error =
            Enter("UpdateDriverForPlugAndPlayDevicesA", {hardwareId, infPath, Hex(InstallFlags)})) {
        return FailWith(*error);
    }
    if (bRebootRequired) *bRebootRequired = FALSE;
    if (!HardwareId || !FullInfPath) return FailWith(ERROR_INVALID_PARAMETER);
    if (InstallFlags & ~static_cast<DWORD>(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY |
                                           INSTALLFLAG_NONINTERACTIVE)) {
        return FailWith(ERROR_INVALID_FLAGS);
    }
    const FileRecord* source = LookupFile(infPath);
    if (!source) return FailWith(ERROR_FILE_NOT_FOUND);

    Machine& m = TheMachine();
    std::vector<DeviceRecord*> matching;
    for (DeviceRecord& record : m.devices) {
        const Device& device = record.device;
        if (device.present && !device.removed && HasHardwareId(device, hardwareId)) {
            matching.push_back(&record);
        }
    }
    if (matching.empty()) return FailWith(ERROR_NO_SUCH_DEVINST);

    const InfSummary inf = ReadInf(source->contents, hardwareId);
    if (!inf.service.empty()) {
        const auto existing = m.services.find(Upper(inf.service));
        if (existing != m.services.end() && existing->second.markedForDeletion) {
            return FailWith(ERROR_SERVICE_MARKED_FOR_DELETE);
        }
    }
    const std::string staged = StageInf(*source);
    const Driver driver{inf.description, inf.provider, inf.provider,
                        staged,          inf.section,  hardwareId};
    for (DeviceRecord* record : matching) {
        Device& device = record->device;
        if (!inf.service.empty()) device.service = inf.service;
        auto same = std::find_if(device.drivers.begin(), device.drivers.end(),
                                 [&](const Driver& d) { return EqualNoCase(d.infPath, staged); });
        if (same == device.drivers.end()) {
            device.drivers.push_back(driver);
        } else {
            *same = driver;
        }
    }
    if (!inf.service.empty()) InstallService(inf, infPath);
    return TRUE;
}

HDEVINFO WINAPI SetupDiGetClassDevsA(CONST GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
    (void)hwndParent;
    auto lock = Locked();
    if (const auto error = Enter("SetupDiGetClassDevsA", {Str(Enumerator), Hex(Flags)})) {
        SetThreadLastError(*error);
        return INVALID_HANDLE_VALUE;
    }
    // Without a class, only the all-classes list makes sense; interfaces are not modelled.
    if ((!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) || (Flags & DIGCF_DEVICEINTERFACE)) {
        SetThreadLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const Machine& m = TheMachine();
    HandleRecord record{HandleKind::kDeviceList};
    for (size_t i = 0; i < m.devices.size(); ++i) {
        const Device& device = m.devices[i].device;
        if (device.removed || ((Flags & DIGCF_PRESENT) && !device.present)) continue;
        if (Enumerator && *Enumerator) {
            const std::string prefix = std::string(Enumerator) + "\\";
            if (!EqualNoCase(device.instanceId.substr(0, prefix.size()), prefix)) continue;
        }
        record.members.push_back(i);
        if (record.isMember.size() <= i) record.isMember.resize(m.devices.size());
        record.isMember[i] = true;
    }
    std::sort(record.members.begin(), record.members.end(), [&](size_t a, size_t b) {
        return LessNoCase(m.devices[a].device.instanceId, m.devices[b].device.instanceId);
    });
    return ToHandle<HDEVINFO>(NewHandle(std::move(record)));
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    auto lock = Locked();
    if (const auto error = Enter("SetupDiDestroyDeviceInfoList", {})) return FailWith(*error);
    if (!FindHandle(DeviceInfoSet, HandleKind::kDeviceList)) return FailWith(ERROR_INVALID_HANDLE);
    TheMachine().handles.erase(reinterpret_cast<uintptr_t>(DeviceInfoSet));
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData) {
    auto lock = Locked();
    if (const auto error = Enter("SetupDiEnumDeviceInfo", {Hex(MemberIndex)})) {
        return FailWith(*error);
    }
    const HandleRecord* list = FindHandle(DeviceInfoSet, HandleKind::kDeviceList);
    if (!list) return FailWith(ERROR_INVALID_HANDLE);
    if (!DeviceInfoData) return FailWith(ERROR_INVALID_PARAMETER);
    if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return FailWith(ERROR_INVALID_USER_BUFFER);
    }
    if (MemberIndex >= list->members.size()) return FailWith(ERROR_NO_MORE_ITEMS);
    // Removed devices keep their element: indices never move under a walking caller.
    const size_t index = list->members[MemberIndex];
    DeviceInfoData->ClassGuid = kDeviceClass;
    DeviceInfoData->DevInst = TheMachine().devices[index].device.devInst;
    DeviceInfoData->Reserved = static_cast<DWORD>(index + 1);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    auto lock = Locked();
    if (const auto error =
            Enter("SetupDiGetDeviceRegistryPropertyA", {InstanceIdOf(DeviceInfoSet, DeviceInfoData),
                                                        Hex(Property), Hex(PropertyBufferSize)})) {
        return FailWith(*error);
    }
    const Member member = ResolveMember(DeviceInfoSet, DeviceInfoData);
    if (member.error) return FailWith(member.error);
    const DeviceRecord& record = member.Record();
    if (record.device.removed) return FailWith(ERROR_NO_SUCH_DEVINST);
    if (Property >= SPDRP_MAXIMUM_PROPERTY) return FailWith(ERROR_INVALID_REG_PROPERTY);
    if (!PropertyBuffer && PropertyBufferSize) return FailWith(ERROR_INVALID_PARAMETER);
    const auto bytes = PropertyBytes(record, Property);
    if (!bytes) return FailWith(ERROR_INVALID_DATA);

    if (PropertyRegDataType)
        *PropertyRegDataType = Property == SPDRP_SERVICE ? REG_SZ : REG_MULTI_SZ;
    DWORD required = static_cast<DWORD>(bytes->size());
    Machine& m = TheMachine();
    if (m.growingQueries > 0) {
        --m.growingQueries;
        required = std::max(required, PropertyBufferSize) + m.growth;
    }
    if (RequiredSize) *RequiredSize = required;
    if (PropertyBufferSize < required) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    // A property of length 0 fits the NULL buffer of a first query.
    if (!bytes->empty()) memcpy(PropertyBuffer, bytes->data(), bytes->size());
    return TRUE;
}

BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD DriverType) {
    auto lock = Locked();
    if (const auto error = Enter("SetupDiBuildDriverInfoList",
                                 {InstanceIdOf(DeviceInfoSet, DeviceInfoData), Hex(DriverType)})) {
        return FailWith(*error);
    }
    // Class driver lists belong to no device; only device lists are modelled.
    if (DriverType != SPDIT_COMPATDRIVER) return FailWith(ERROR_INVALID_PARAMETER);
    const Member member = ResolveMember(DeviceInfoSet, DeviceInfoData);
    if (member.error) return FailWith(member.error);
    if (member.Record().device.removed) return FailWith(ERROR_NO_SUCH_DEVINST);
    // A second build keeps the list already built, as setupapi does.
    auto [list, built] =
        member.list->driverLists.try_emplace(member.index, member.Record().device.drivers);
    (void)list;
    if (built) ++TheMachine().openDriverLists;
    return TRUE;
}

BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   DWORD DriverType, DWORD MemberIndex,
                                   PSP_DRVINFO_DATA_A DriverInfoData) {
    auto lock = Locked();
    if (const auto error = Enter(
            "SetupDiEnumDriverInfoA",
            {InstanceIdOf(DeviceInfoSet, DeviceInfoData), Hex(DriverType), Hex(MemberIndex)})) {
        return FailWith(*error);
    }
    const Member member = ResolveMember(DeviceInfoSet, DeviceInfoData);
    if (member.error) return FailWith(member.error);
    if (DriverType != SPDIT_COMPATDRIVER || !DriverInfoData) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const DWORD size = DriverInfoData->cbSize;
    if (size != sizeof(SP_DRVINFO_DATA_V2_A) && size != sizeof(SP_DRVINFO_DATA_V1_A)) {
        return FailWith(ERROR_INVALID_USER_BUFFER);
    }
    const auto& lists = member.list->driverLists;
    const auto list = lists.find(member.index);
    // A list never built is an empty one.
    if (list == lists.end() || MemberIndex >= list->second.size()) {
        return FailWith(ERROR_NO_MORE_ITEMS);
    }
    const Driver& driver = list->second[MemberIndex];
    DriverInfoData->DriverType = SPDIT_COMPATDRIVER;
    DriverInfoData->Reserved = MemberIndex + 1;
    CopyField(DriverInfoData->Description, LINE_LEN, driver.description);
    CopyField(DriverInfoData->MfgName, LINE_LEN, driver.manufacturer);
    CopyField(DriverInfoData->ProviderName, LINE_LEN, driver.provider);
    if (size == sizeof(SP_DRVINFO_DATA_V2_A)) {
        // 1 July 2003 and version 1.0.0.0, for every driver.
        DriverInfoData->DriverDate = FILETIME{0x6C7E4000, 0x01C33F6A};
        DriverInfoData->DriverVersion = DWORDLONG{1} << 48;
    }
    return TRUE;
}

BOOL WINAPI SetupDiGetDriverInfoDetailA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSP_DRVINFO_DATA_A DriverInfoData,
                                        PSP_DRVINFO_DETAIL_DATA_A DriverInfoDetailData,
                                        DWORD DriverInfoDetailDataSize, PDWORD RequiredSize) {
    auto lock = Locked();
    if (const auto error =
            Enter("SetupDiGetDriverInfoDetailA",
                  {InstanceIdOf(DeviceInfoSet, DeviceInfoData), Hex(DriverInfoDetailDataSize)})) {
        return FailWith(*error);
    }
    const Member member = ResolveMember(DeviceInfoSet, DeviceInfoData);
    if (member.error) return FailWith(member.error);
    DWORD error = ERROR_SUCCESS;
    const Driver* driver = SelectedDriver(member, DriverInfoData, &error);
    if (!driver) return FailWith(error);

    const std::string ids = HardwareIdList(*driver);
    const DWORD required = kDetailFixedSize + static_cast<DWORD>(ids.size());
    if (!DriverInfoDetailData) {
        if (DriverInfoDetailDataSize) return FailWith(ERROR_INVALID_PARAMETER);
        if (RequiredSize) *RequiredSize = required;
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    }
    if (DriverInfoDetailData->cbSize != sizeof(SP_DRVINFO_DETAIL_DATA_A) ||
        DriverInfoDetailDataSize < sizeof(SP_DRVINFO_DETAIL_DATA_A)) {
        return FailWith(ERROR_INVALID_USER_BUFFER);
    }
    // The fixed part is filled even when the hardware-ID list does not fit behind it.
    SP_DRVINFO_DETAIL_DATA_A& detail = *DriverInfoDetailData;
    detail.InfDate = FILETIME{0x6C7E4000, 0x01C33F6A};
    detail.CompatIDsOffset =
        driver->hardwareId.empty() ? 0 : static_cast<DWORD>(driver->hardwareId.size() + 1);
    detail.CompatIDsLength = 0;
    detail.Reserved = DriverInfoData->Reserved;
    CopyField(detail.SectionName, LINE_LEN, driver->section);
    CopyField(detail.InfFileName, MAX_PATH, driver->infPath);
    CopyField(detail.DrvDescription, LINE_LEN, driver->description);
    if (RequiredSize) *RequiredSize = required;
    if (DriverInfoDetailDataSize < required) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    memcpy(detail.HardwareID, ids.data(), ids.size());
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                         DWORD DriverType) {
    auto lock = Locked();
    if (const auto error = Enter("SetupDiDestroyDriverInfoList",
                                 {InstanceIdOf(DeviceInfoSet, DeviceInfoData), Hex(DriverType)})) {
        return FailWith(*error);
    }
    if (DriverType != SPDIT_COMPATDRIVER && DriverType != SPDIT_CLASSDRIVER) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (DriverType == SPDIT_CLASSDRIVER) {
        return FindHandle(DeviceInfoSet, HandleKind::kDeviceList) ? TRUE
                                                                  : FailWith(ERROR_INVALID_HANDLE);
    }
    const Member member = ResolveMember(DeviceInfoSet, DeviceInfoData);
    if (member.error) return FailWith(member.error);
    if (member.list->driverLists.erase(member.index)) --TheMachine().openDriverLists;
    return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    auto lock = Locked();
    if (const auto error =
            Enter("SetupDiCallClassInstaller",
                  {Hex(InstallFunction), InstanceIdOf(DeviceInfoSet, DeviceInfoData)})) {
        return FailWith(*error);
    }
    if (!FindHandle(DeviceInfoSet, HandleKind::kDeviceList)) return FailWith(ERROR_INVALID_HANDLE);
    if (InstallFunction != DIF_REMOVE) return TRUE;  // the default action, with no effect here
    if (!DeviceInfoData) return FailWith(ERROR_NO_DEVICE_SELECTED);
    const Member member = ResolveMember(DeviceInfoSet, DeviceInfoData);
    if (member.error) return FailWith(member.error);
    Device& device = member.Record().device;
    if (device.removed) return FailWith(ERROR_NO_SUCH_DEVINST);
    // Gone from the machine, but its element stays in every list that holds it.
    device.removed = true;
    return TRUE;
}

CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID, ULONG ulFlags) {
    auto lock = Locked();
    if (const auto error = Enter("CM_Locate_DevNodeA", {Str(pDeviceID), Hex(ulFlags)})) {
        return *error;
    }
    if (!pdnDevInst) return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    if (ulFlags & ~static_cast<ULONG>(0x7)) return CR_INVALID_FLAG;
    const Machine& m = TheMachine();
    if (!pDeviceID || !*pDeviceID || EqualNoCase(pDeviceID, "HTREE\\ROOT\\0")) {
        if (m.locateRootResult == CR_SUCCESS) *pdnDevInst = kRootDevNode;
        return m.locateRootResult;
    }
    for (const DeviceRecord& record : m.devices) {
        const Device& device = record.device;
        if (device.removed || !EqualNoCase(device.instanceId, pDeviceID)) continue;
        if (!device.present && !(ulFlags & CM_LOCATE_DEVNODE_PHANTOM)) return CR_NO_SUCH_DEVNODE;
        *pdnDevInst = device.devInst;
        return CR_SUCCESS;
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    auto lock = Locked();
    if (const auto error = Enter("CM_Reenumerate_DevNode", {Hex(dnDevInst), Hex(ulFlags)})) {
        return *error;
    }
    if (dnDevInst == kRootDevNode) return CR_SUCCESS;
    for (const DeviceRecord& record : TheMachine().devices) {
        if (record.device.devInst == dnDevInst && !record.device.removed) return CR_SUCCESS;
    }
    return CR_INVALID_DEVNODE;
}

}  // extern "C"
