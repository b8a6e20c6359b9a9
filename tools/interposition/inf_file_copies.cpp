#include "interposition/inf_file_copies.h"

#include "common/case_insensitive.h"

namespace {

std::string Field(INFCONTEXT* line, DWORD index) {
    char text[512] = {};
    if (!SetupGetStringFieldA(line, index, text, sizeof text, nullptr)) return "";
    return text;
}

// The install sections the models lines name for the hardware ID.
std::vector<std::string> InstallSectionsFor(HINF inf, const char* hardware_id) {
    std::vector<std::string> found;
    for (const std::string& models : ModelsSections(inf)) {
        INFCONTEXT line;
        for (BOOL more = SetupFindFirstLineA(inf, models.c_str(), nullptr, &line); more;
             more = SetupFindNextLine(&line, &line)) {
            const DWORD count = SetupGetFieldCount(&line);
            for (DWORD index = 2; index <= count; ++index) {
                if (EqualsIgnoreCase(Field(&line, index).c_str(), hardware_id)) {
                    found.push_back(Field(&line, 1));
                    break;
                }
            }
        }
    }
    return found;
}

// The section the system installs from: the one decorated for this platform when the INF
// has it, as Windows chooses.
std::string DecoratedSection(HINF inf, const std::string& section) {
    const char* const decorations[] = {sizeof(void*) == 8 ? ".NTamd64" : ".NTx86", ".NT"};
    for (const char* decoration : decorations) {
        const std::string name = section + decoration;
        if (SetupGetLineCountA(inf, name.c_str()) >= 0) return name;
    }
    return section;
}

std::string TargetFolder(HINF inf, const char* copy_section) {
    char folder[MAX_PATH] = {};
    if (!SetupGetTargetPathA(inf, nullptr, copy_section, folder, sizeof folder, nullptr)) {
        return "";
    }
    folder[sizeof folder - 1] = '\0';
    std::string path = folder;
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

void AddCopy(const std::string& source_folder, const std::string& target_folder,
             const std::string& target_name, const std::string& source_name,
             std::vector<FileCopy>* copies) {
    if (target_folder.empty() || target_name.empty()) return;
    copies->push_back({source_folder + (source_name.empty() ? target_name : source_name),
                       target_folder + target_name});
}

// A CopyFiles entry names a file-list section, or with a leading @ a single file that goes
// to the INF's default destination.
void AddCopiesOf(HINF inf, const std::string& entry, const std::string& source_folder,
                 std::vector<FileCopy>* copies) {
    if (entry.empty()) return;
    if (entry[0] == '@') {
        AddCopy(source_folder, TargetFolder(inf, nullptr), entry.substr(1), "", copies);
        return;
    }
    const std::string target_folder = TargetFolder(inf, entry.c_str());
    INFCONTEXT line;
    for (BOOL more = SetupFindFirstLineA(inf, entry.c_str(), nullptr, &line); more;
         more = SetupFindNextLine(&line, &line)) {
        AddCopy(source_folder, target_folder, Field(&line, 1), Field(&line, 2), copies);
    }
}

std::string FolderOf(const std::string& path) {
    const size_t last = path.find_last_of("\\/");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace

std::vector<FileCopy> InfFileCopies(const char* inf, const char* hardware_id) {
    std::vector<FileCopy> copies;
    if (!inf || !hardware_id) return copies;
    HINF opened = SetupOpenInfFileA(inf, nullptr, INF_STYLE_WIN4, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return copies;
    const std::string source_folder = FolderOf(inf);
    for (const std::string& section : InstallSectionsFor(opened, hardware_id)) {
        const std::string install = DecoratedSection(opened, section);
        INFCONTEXT line;
        for (BOOL more = SetupFindFirstLineA(opened, install.c_str(), "CopyFiles", &line); more;
             more = SetupFindNextMatchLineA(&line, "CopyFiles", &line)) {
            const DWORD count = SetupGetFieldCount(&line);
            for (DWORD index = 1; index <= count; ++index) {
                AddCopiesOf(opened, Field(&line, index), source_folder, &copies);
            }
        }
    }
    SetupCloseInfFile(opened);
    return copies;
}
