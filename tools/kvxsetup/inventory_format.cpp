#include "inventory_format.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// No exceptions in the host: text that still were not UTF-8 is replaced, never thrown at.
#define JSON_NOEXCEPTION
#include <nlohmann/json.hpp>

namespace {

// The CSV header: every field name an item may have, after the item's kind.
constexpr std::array<const char*, 11> kCsvColumns = {"kind",   "name",     "state",   "service",
                                                     "driver", "provider", "matches", "problem",
                                                     "path",   "header",   "error"};

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, its quotes doubled.
std::string CsvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

using CsvCells = std::array<std::string, kCsvColumns.size()>;

void SetCell(CsvCells* cells, std::string_view column, std::string value) {
    for (size_t at = 0; at < kCsvColumns.size(); ++at) {
        if (kCsvColumns[at] == column) (*cells)[at] = std::move(value);
    }
}

std::string CsvRow(const CsvCells& cells) {
    std::string row;
    for (size_t column = 0; column < cells.size(); ++column) {
        if (column > 0) row += ',';
        row += CsvField(cells[column]);
    }
    return row;
}

std::vector<std::string> FormatCsv(const std::vector<InventoryGroup>& groups) {
    CsvCells header;
    std::copy(kCsvColumns.begin(), kCsvColumns.end(), header.begin());
    std::vector<std::string> rows = {CsvRow(header)};
    for (const InventoryGroup& group : groups) {
        if (!group.error.empty()) {
            CsvCells cells;
            SetCell(&cells, "kind", "error");
            SetCell(&cells, "name", group.name);
            SetCell(&cells, "error", AnsiToUtf8(group.error));
            rows.push_back(CsvRow(cells));
        }
        for (const InventoryItem& item : group.items) {
            CsvCells cells;
            SetCell(&cells, "kind", item.kind);
            for (const InventoryField& field : item.fields) {
                if (field.value) SetCell(&cells, field.name, AnsiToUtf8(*field.value));
            }
            rows.push_back(CsvRow(cells));
        }
    }
    return rows;
}

nlohmann::ordered_json JsonItem(const InventoryItem& item) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const InventoryField& field : item.fields) {
        if (!field.value) {
            object[field.name] = nullptr;
        } else if (field.number) {
            object[field.name] = strtoul(field.value->c_str(), nullptr, 10);
        } else {
            object[field.name] = AnsiToUtf8(*field.value);
        }
    }
    return object;
}

std::vector<std::string> FormatJson(const std::vector<InventoryGroup>& groups) {
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    nlohmann::ordered_json errors = nlohmann::ordered_json::array();
    for (const InventoryGroup& group : groups) {
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const InventoryItem& item : group.items) items.push_back(JsonItem(item));
        document[group.name] = std::move(items);
        if (!group.error.empty()) {
            errors.push_back({{"group", group.name}, {"message", AnsiToUtf8(group.error)}});
        }
    }
    document["errors"] = std::move(errors);
    const std::string text =
        document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// One item, one line: a line feed or another control character in a name would otherwise
// split an item or hide part of it, so each shows as an escape.
std::string EscapeControlCharacters(const std::string& line) {
    std::string escaped;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\t') {
            escaped += "\\t";
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", byte);
            escaped += hex;
        }
    }
    return escaped;
}

std::vector<std::string> FormatText(const std::vector<InventoryGroup>& groups) {
    std::vector<std::string> lines;
    for (const InventoryGroup& group : groups) {
        if (!group.error.empty()) {
            lines.push_back(EscapeControlCharacters(group.error));
        } else if (group.items.empty() && !group.line_when_empty.empty()) {
            lines.push_back(group.line_when_empty);
        }
        for (const InventoryItem& item : group.items) {
            lines.push_back(EscapeControlCharacters(item.line));
        }
    }
    return lines;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
    if (ansi.empty()) return ansi;
    const int size = static_cast<int>(ansi.size());
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
    if (wide_length <= 0) return {};
    std::wstring wide(static_cast<size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), wide_length);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr,
                        nullptr);
    return utf8;
}

std::optional<InventoryFormat> ParseInventoryFormat(const std::string& name) {
    if (name == "text") return InventoryFormat::kText;
    if (name == "csv") return InventoryFormat::kCsv;
    if (name == "json") return InventoryFormat::kJson;
    return std::nullopt;
}

std::vector<std::string> FormatInventory(const std::vector<InventoryGroup>& groups,
                                         InventoryFormat format) {
    switch (format) {
        case InventoryFormat::kCsv:
            return FormatCsv(groups);
        case InventoryFormat::kJson:
            return FormatJson(groups);
        case InventoryFormat::kText:
            break;
    }
    return FormatText(groups);
}
