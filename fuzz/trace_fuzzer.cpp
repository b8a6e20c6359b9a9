// Trace lines with long arguments: never more than 255 characters, always ending in a line
// feed, never a byte written past the caller's buffer, and otherwise exactly the text the
// format asks for.
#include <kvxsim/machine.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "entry/exports.h"
#include "entry/trace.h"
#include "fuzz_input.h"

namespace {

struct GuardedBuffer {
    char text[kTraceBufferSize];
    char guard[64];
};

// What the format gives for (text, number, number), or for (text, text) when it asks for
// two strings.
std::string Expected(const char* format, bool twoStrings, const std::string& text, int number) {
    char full[4096];
    if (twoStrings) {
        snprintf(full, sizeof full, format, text.c_str(), text.c_str());
    } else {
        snprintf(full, sizeof full, format, text.c_str(), number, number);
    }
    std::string line(full);
    if (line.size() >= kTraceBufferSize) line = line.substr(0, kTraceBufferSize - 2) + "\n";
    return line;
}

void CheckLine(const std::string& line) {
    if (line.size() > kTraceBufferSize - 1) kvxfuzz::Broken("line longer than 255");
    if (line.empty() || line.back() != '\n') kvxfuzz::Broken("line without line feed", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvxsim::Reset();
    kvxfuzz::ByteReader in(data, size);
    // Formats of the shapes the module writes: a string first, then numbers.
    static constexpr const char* kFormats[] = {
        "RemoveDevices: Comparing with Device ID \"%s\"\n",
        "StopService: failed to open service %s, err=%d (%x)\n",
        "InfFileName=\"%s\", section=\"%s\"\n",
        "%s%d%x",
        "%s\n",
    };
    const char* format = kFormats[in.Pick(std::size(kFormats))];
    const int number = static_cast<int>(in.Dword());
    const size_t repeat = in.Byte();
    std::string text = in.Text(255);
    if (repeat > 200) text.append((repeat - 200) * 16, 'L');

    GuardedBuffer buffer;
    memset(&buffer, '#', sizeof buffer);
    const bool twoStrings = format == kFormats[2];
    if (twoStrings) {
        Trace(buffer.text, format, text.c_str(), text.c_str());
    } else {
        Trace(buffer.text, format, text.c_str(), number, number);
    }
    for (char c : buffer.guard) {
        if (c != '#') kvxfuzz::Broken("wrote past the buffer");
    }
    const std::vector<std::string> lines = kvxsim::DebugOutput();
    if (lines.size() != 1) kvxfuzz::Broken("not one write");
    if (format != kFormats[3]) CheckLine(lines[0]);
    if (lines[0] != Expected(format, twoStrings, text, number))
        kvxfuzz::Broken("unexpected text", lines[0]);

    // The exports write their arguments into the trace too.
    kvxsim::ClearDebugOutput();
    KVXSetup_StopService(text.c_str());
    KVXSetup_CopyOemInf(text.c_str(), in.Dword());
    for (const std::string& line : kvxsim::DebugOutput()) CheckLine(line);
    kvxfuzz::CheckNothingLeftOpen();
    return 0;
}
