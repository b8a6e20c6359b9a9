// What every trace must look like, whatever the platform answered: one line per event, each
// ending in a line feed, none longer than the module's 255 characters.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace reliability {

inline constexpr size_t kLongestTraceLine = 255;

// A write that does not end in "\n" is a piece of a line the module writes in parts (a
// string written as it is), and the next write must then be the "\n" that ends it. Pieces
// are the caller's strings and are not held to the length limit.
inline ::testing::AssertionResult TraceIsWellFormed(const std::vector<std::string>& writes) {
    for (size_t i = 0; i < writes.size(); ++i) {
        const std::string& write = writes[i];
        const bool endsLine = !write.empty() && write.back() == '\n';
        if (!endsLine) {
            if (i + 1 < writes.size() && writes[i + 1] == "\n") {
                ++i;
                continue;
            }
            return ::testing::AssertionFailure() << "write " << i << " \"" << write
                                                 << "\" neither ends a line nor is ended by one";
        }
        if (write.find('\n') != write.size() - 1) {
            return ::testing::AssertionFailure() << "write " << i << " holds more than one line";
        }
        if (write.size() > kLongestTraceLine) {
            return ::testing::AssertionFailure()
                   << "write " << i << " is " << write.size() << " characters long";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace reliability
