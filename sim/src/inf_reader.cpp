// Just enough INF reading to install a driver from a test's INF: the provider, the first
// driver service with its binary, and the model line that names a hardware ID.
#include "machine_state.h"

#include <vector>

namespace kvxsim::detail {
namespace {

struct Line {
    std::string key;
    std::vector<std::string> fields;  // the value split at commas, quotes still on
};

struct Section {
    std::string name;
    std::vector<Line> lines;
};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Cuts a comment off, leaving semicolons inside quotes alone.
std::string_view StripComment(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ';' && !quoted) return line.substr(0, i);
    }
    return line;
}

std::vector<std::string> SplitFields(std::string_view value) {
    std::vector<std::string> fields;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i <= value.size(); ++i) {
        if (i < value.size() && value[i] == '"') quoted = !quoted;
        if (i == value.size() || (value[i] == ',' && !quoted)) {
            fields.emplace_back(Trim(value.substr(start, i - start)));
            start = i + 1;
        }
    }
    return fields;
}

std::vector<Section> Parse(std::string_view text) {
    std::vector<Section> sections;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = Trim(StripComment(line));
        if (line.empty()) continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            sections.push_back(Section{std::string(Trim(line.substr(1, close - 1))), {}});
            continue;
        }
        if (sections.empty()) continue;
        const size_t equals = line.find('=');
        Line parsed;
        if (equals != std::string_view::npos) {
            parsed.key = std::string(Trim(line.substr(0, equals)));
            parsed.fields = SplitFields(line.substr(equals + 1));
        } else {
            parsed.fields = SplitFields(line);
        }
        sections.back().lines.push_back(std::move(parsed));
    }
    return sections;
}

class Inf {
public:
    explicit Inf(std::string_view text) : sections_(Parse(text)) {}

    const Section* Find(std::string_view name) const {
        for (const Section& section : sections_) {
            if (EqualNoCase(section.name, name)) return &section;
        }
        return nullptr;
    }

    const Line* Find(std::string_view section, std::string_view key) const {
        const Section* found = Find(section);
        if (!found) return nullptr;
        for (const Line& line : found->lines) {
            if (EqualNoCase(line.key, key)) return &line;
        }
        return nullptr;
    }

    // Quotes stripped and %strkey% taken from [Strings]; unknown keys stay as written.
    std::string Resolve(std::string_view raw) const {
        std::string text(raw);
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
            text = text.substr(1, text.size() - 2);
        }
        std::string result;
        for (size_t i = 0; i < text.size();) {
            const size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
            const Line* string = close == std::string::npos
                                     ? nullptr
                                     : Find("Strings", text.substr(i + 1, close - i - 1));
            if (string && !string->fields.empty()) {
                result += Resolve(string->fields[0]);
                i = close + 1;
            } else {
                result += text[i++];
            }
        }
        return result;
    }

    const std::vector<Section>& Sections() const { return sections_; }

private:
    std::vector<Section> sections_;
};

}  // namespace

InfSummary ReadInf(std::string_view text, std::string_view hardwareId) {
    const Inf inf(text);
    InfSummary summary;
    if (const Line* provider = inf.Find("Version", "Provider");
        provider && !provider->fields.empty()) {
        summary.provider = inf.Resolve(provider->fields[0]);
    }
    bool haveService = false, haveModel = false;
    for (const Section& section : inf.Sections()) {
        if (EqualNoCase(section.name, "Strings") || EqualNoCase(section.name, "Version")) continue;
        for (const Line& line : section.lines) {
            if (!haveService && EqualNoCase(line.key, "AddService") && !line.fields.empty()) {
                haveService = true;
                summary.service = inf.Resolve(line.fields[0]);
                if (line.fields.size() > 2) {
                    const Line* binary = inf.Find(line.fields[2], "ServiceBinary");
                    if (binary && !binary->fields.empty()) {
                        summary.serviceBinary = inf.Resolve(binary->fields[0]);
                    }
                }
            }
            if (!haveModel && !line.key.empty() && line.fields.size() > 1) {
                for (size_t i = 1; i < line.fields.size(); ++i) {
                    if (!EqualNoCase(inf.Resolve(line.fields[i]), hardwareId)) continue;
                    haveModel = true;
                    summary.description = inf.Resolve(line.key);
                    summary.section = inf.Resolve(line.fields[0]);
                    break;
                }
            }
        }
    }
    if (summary.description.empty()) summary.description = std::string(hardwareId);
    return summary;
}

}  // namespace kvxsim::detail
