// Random INF store contents through the INF store clean-up. Only the product's fixed-name
// files and the staged INFs that begin with one of its header lines (with their
// precompiled files) may go; without platform failures, all of those that are not held
// open must go.
#include <kvxsim/machine.h>
#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "cleanup/inf_store_cleanup.h"
#include "fuzz_failures.h"
#include "fuzz_input.h"

namespace {

using kvxfuzz::ByteReader;
using kvxfuzz::EqualNoCase;
using kvxfuzz::StartsWithNoCase;
using kvxfuzz::Upper;

struct FileModel {
    std::string name;
    std::string shortName;
    std::string contents;
    bool locked = false;
};

std::string FileName(ByteReader& in) {
    switch (in.Pick(8)) {
        case 0:
            return "kvx.inf";
        case 1:
            return in.Flag() ? "KVX.PNF" : "kvx.pnf";
        case 2:
            return "oem" + std::to_string(in.Byte()) + ".pnf";
        case 3:
            return in.Varied("oem" + std::to_string(in.Byte() % 16) + ".inf");
        case 4:
            return in.Text(12) + ".inf";
        case 5:
            return "oem" + std::string(180 + in.Byte() % 80, 'x') + ".inf";
        default:
            return "OEM" + std::to_string(in.Byte() % 16) + ".INF";
    }
}

std::string Contents(ByteReader& in) {
    std::string text;
    switch (in.Pick(4)) {
        case 0:
            text = InfHeaderLines[in.Pick(std::size(InfHeaderLines))];
            break;
        case 1:
            text = Upper(InfHeaderLines[in.Pick(std::size(InfHeaderLines))]);
            break;
        case 2:
            // The header cut short, or with a bare line feed.
            text = InfHeaderLines[in.Pick(std::size(InfHeaderLines))];
            text.resize(in.Byte() % (text.size() + 1));
            if (in.Flag()) text += "\n";
            break;
        default:
            break;
    }
    return text + in.Bytes(80);
}

bool IsProductHeader(const std::string& contents) {
    if (contents.size() < kInfHeaderLength) return false;
    for (const char* line : InfHeaderLines) {
        if (EqualNoCase(contents.substr(0, kInfHeaderLength), line)) return true;
    }
    return false;
}

bool WildcardStaged(const std::string& name) {
    return name.size() >= 7 && StartsWithNoCase(name, "oem") &&
           EqualNoCase(name.substr(name.size() - 4), ".inf");
}

// What a name's precompiled file is called, for a name that ends in ".inf".
std::string PrecompiledName(const std::string& name) {
    return name.substr(0, name.size() - 3) + "pnf";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvxsim::Reset();
    ByteReader in(data, size);
    bool standardStore = true;
    switch (in.Pick(6)) {
        case 0:
            kvxsim::SetWindowsDirectory("C:\\WINNT\\");
            break;
        case 1:
            kvxsim::SetWindowsDirectory("C:\\" + std::string(200 + in.Byte() % 120, 'w'));
            standardStore = false;
            break;
        case 2:
            kvxsim::SetWindowsDirectory("D:\\" + in.Text(40));
            standardStore = false;
            break;
        default:
            break;
    }
    const std::string store = kvxsim::InfDirectory();

    std::vector<FileModel> files;
    const int count = in.Byte() % 16;
    for (int i = 0; i < count; ++i) {
        FileModel file{FileName(in), {}, Contents(in), in.Pick(5) == 0};
        if (in.Pick(4) == 0) file.shortName = "OEM" + std::to_string(i) + "~1.INF";
        if (file.name.empty() || file.name.find('\\') != std::string::npos) continue;
        bool taken = false;
        for (const FileModel& earlier : files) taken |= EqualNoCase(earlier.name, file.name);
        if (taken) continue;
        kvxsim::AddFile(store + file.name, file.contents, file.shortName);
        if (file.locked) kvxsim::LockFile(store + file.name);
        files.push_back(file);
    }
    // A file with the same contents outside the store, which no clean-up may reach.
    kvxsim::AddFile("C:\\setup\\oem1.inf", InfHeaderLines[0]);
    const bool failures = kvxfuzz::InjectFailures(in);

    std::set<std::string> mayDelete;
    std::set<std::string> mustDelete;
    const auto allow = [&](const std::string& name, bool must) {
        mayDelete.insert(Upper(name));
        if (must) mustDelete.insert(Upper(name));
    };
    allow("kvx.inf", true);
    allow("kvx.pnf", true);
    for (const FileModel& file : files) {
        const bool staged = WildcardStaged(file.name) || WildcardStaged(file.shortName);
        if (!staged || !IsProductHeader(file.contents)) continue;
        // A locked file cannot be read, so it is not known to be the product's.
        allow(file.name, !file.locked);
        const bool infExtension =
            file.name.size() >= 4 && EqualNoCase(file.name.substr(file.name.size() - 4), ".inf");
        if (infExtension) allow(PrecompiledName(file.name), !file.locked);
    }

    const ErrorCode result = RemoveOemInfFiles();
    if (result != ERROR_SUCCESS && standardStore && !failures) {
        kvxfuzz::Broken("clean-up failed on a standard store");
    }

    kvxfuzz::CheckNothingLeftOpen();
    if (!kvxsim::FileExists("C:\\setup\\oem1.inf")) kvxfuzz::Broken("deleted outside the store");
    for (const FileModel& file : files) {
        const bool exists = kvxsim::FileExists(store + file.name);
        if (!exists && !mayDelete.count(Upper(file.name))) {
            kvxfuzz::Broken("deleted a file not the product's", file.name);
        }
        // Paths the platform cannot hand over whole are left alone, not cut.
        const bool reachable = standardStore && store.size() + file.name.size() < MAX_PATH;
        if (exists && !file.locked && !failures && reachable &&
            mustDelete.count(Upper(file.name))) {
            kvxfuzz::Broken("left a product file", file.name);
        }
    }
    return 0;
}
