#include "removal_profile.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "stopwatch.h"
#include "win32_common/debug_string_catcher.h"

namespace {

struct TracedLine {
    double ms;
    std::string text;
};

// The catcher calls back without a context: this program profiles one removal at a time.
Stopwatch g_watch;
std::vector<TracedLine>* g_lines = nullptr;

void RecordLine(std::string_view text) {
    if (g_lines) g_lines->push_back({ElapsedMs(g_watch), std::string(text)});
}

bool StartsWith(const std::string& text, std::string_view start) {
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWalk(const std::string& text) {
    return StartsWith(text, "SetupDiEnumDeviceInfo");
}

bool BelongsToDriverPackages(const std::string& text) {
    for (std::string_view start :
         {"Driver ", "InfFileName", "Last Error", "SetupDiGetDriverInfo",
          "SetupDiBuildDriverInfoList", "SetupDiEnumDriverInfo", "DeleteFile"}) {
        if (StartsWith(text, start)) return true;
    }
    return false;
}

// The step whose time ends at `line`, judged from the line before it.
enum Step { kList, kDevices, kPackages, kRemoveDevice, kSteps };
const char* const kStepNames[kSteps] = {"list", "devices", "packages", "remove_device"};

Step StepEndingAt(const std::vector<TracedLine>& lines, size_t at) {
    // The first line of a walk comes after its device list (and the service steps and
    // image-path test between walks).
    if (at == 0 || EndsWalk(lines[at - 1].text)) return kList;
    // Driver packages end with "Last Error: ..."; the class installer removes the device
    // before the walk writes its next line.
    if (StartsWith(lines[at - 1].text, "Last Error")) return kRemoveDevice;
    if (BelongsToDriverPackages(lines[at].text)) return kPackages;
    return kDevices;
}

void PrintProfile(const std::vector<TracedLine>& lines, double totalMs) {
    double stepMs[kSteps] = {};
    struct Gap {
        double ms;
        size_t at;
    };
    std::vector<Gap> gaps;
    std::vector<double> listMs;  // before each walk's first line
    double previous = 0;
    for (size_t at = 0; at < lines.size(); ++at) {
        const double gap = lines[at].ms - previous;
        const Step step = StepEndingAt(lines, at);
        stepMs[step] += gap;
        if (step == kList) listMs.push_back(gap);
        gaps.push_back({gap, at});
        previous = lines[at].ms;
    }
    for (int step = 0; step < kSteps; ++step) {
        printf("figure: profile_%s_ms %.3f\n", kStepNames[step], stepMs[step]);
    }
    printf("figure: profile_tail_ms %.3f\nfigure: profile_total_ms %.3f\n", totalMs - previous,
           totalMs);
    printf("figure: profile_lines %u\n", static_cast<unsigned>(lines.size()));
    // The first walk also stops the background service, the 13th follows the service
    // steps; the 2nd and the last show a device list alone, before and after the boards go.
    if (listMs.size() >= 14) {
        printf("figure: profile_second_list_ms %.3f\nfigure: profile_last_list_ms %.3f\n",
               listMs[1], listMs.back());
    }
    std::sort(gaps.begin(), gaps.end(), [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
    for (size_t i = 0; i < gaps.size() && i < 8; ++i) {
        const size_t at = gaps[i].at;
        std::string before = at > 0 ? lines[at - 1].text : "(start)";
        std::string after = lines[at].text;
        for (std::string* text : {&before, &after}) {
            while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) {
                text->pop_back();
            }
        }
        printf("step: %.1f ms between \"%s\" and \"%s\"\n", gaps[i].ms, before.c_str(),
               after.c_str());
    }
}

}  // namespace

bool ProfileRemoval(const ModuleExports& exports, DWORD settleMs) {
    std::vector<TracedLine> lines;
    lines.reserve(1 << 16);
    kvxwin::CatchDebugStrings(RecordLine);
    Sleep(settleMs);
    g_watch = StartStopwatch();
    g_lines = &lines;
    const DWORD result = exports.removeKvx();
    const double totalMs = ElapsedMs(g_watch);
    g_lines = nullptr;
    PrintProfile(lines, totalMs);
    fflush(stdout);
    return result == ERROR_SUCCESS;
}
