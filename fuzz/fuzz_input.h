// Reading a fuzzer's bytes as a machine description, and stopping the run when the module
// broke something. Reading past the end yields zeros and empty strings, so every input,
// however short, describes some machine.
#pragma once

#include <kvxsim/machine.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <string_view>

namespace kvxfuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool AtEnd() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t Word() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    uint32_t Dword() {
        const uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    bool Flag() { return (Byte() & 1) != 0; }
    // One of `count` choices.
    size_t Pick(size_t count) { return count == 0 ? 0 : Byte() % count; }
    // A length byte, then up to that many raw bytes (NULs included).
    std::string Bytes(size_t maxLength = 255) {
        const size_t wanted = Byte() % (maxLength + 1);
        const size_t remaining = at_ < size_ ? size_ - at_ : 0;
        const size_t taken = wanted < remaining ? wanted : remaining;
        std::string text(reinterpret_cast<const char*>(data_ + at_), taken);
        at_ += taken;
        return text;
    }
    // Like Bytes, without NULs: a C string as the platform would hand it over.
    std::string Text(size_t maxLength = 255) {
        std::string text = Bytes(maxLength);
        for (char& c : text) {
            if (c == '\0') c = '_';
        }
        return text;
    }
    // `base`, sometimes with a fuzzed tail or stretched to a long field.
    std::string Varied(std::string_view base) {
        std::string text(base);
        switch (Byte() % 8) {
            case 0:
                text += Text(32);
                break;
            case 1:
                text.append(200 + Byte(), 'X');
                break;
            case 2:
                text = text.substr(0, Byte() % (text.size() + 1));
                break;
            case 3:
                for (char& c : text) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
                break;
            default:
                break;
        }
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

inline bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

inline std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return upper;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

[[noreturn]] inline void Broken(const char* what, std::string_view detail = {}) {
    fprintf(stderr, "invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()),
            detail.data());
    abort();
}

// Whatever the module did, it must have given back everything it took from the platform.
inline void CheckNothingLeftOpen() {
    if (kvxsim::OpenResources().Total() != 0) Broken("resources left open");
    if (kvxsim::BadLocalFrees() != 0) Broken("bad LocalFree");
}

}  // namespace kvxfuzz
