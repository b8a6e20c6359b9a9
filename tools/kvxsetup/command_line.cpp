#include "command_line.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool IsOptionWord(const std::string& word) {
    return word.starts_with("--");
}

bool IsHelpWord(const std::string& word) {
    return word == "--help" || word == "-h" || word == "/?";
}

// The options that shape the whole run; the flag, or the place of the value, they set.
struct HostOption {
    const char* name;
    const char* value_name;  // Null for a flag.
    bool CommandLine::*flag;
    std::string CommandLine::*value;
};

constexpr HostOption kHostOptions[] = {
    {"--dll", "PATH", nullptr, &CommandLine::module_path},
    {"--log", "FILE", nullptr, &CommandLine::log_path},
    {"--report", "FILE", nullptr, &CommandLine::report_path},
    {"--quiet", nullptr, &CommandLine::quiet, nullptr},
    {"--what-if", nullptr, &CommandLine::what_if, nullptr},
    {"--finish-at-restart", nullptr, &CommandLine::finish_at_restart, nullptr},
};

const HostOption* FindHostOption(const std::string& word) {
    for (const HostOption& option : kHostOptions) {
        if (word == option.name) return &option;
    }
    return nullptr;
}

// The command's own words: its options taken out, and every other "--" word refused, so
// that only paths, names and numbers are left.
using Words = std::vector<char*>;

bool ReadInventoryWords(const Words& words, CommandLine* line, std::string* problem) {
    const std::string usage = "inventory takes --format text, csv or json";
    if (words.empty()) return true;
    const auto format = words.size() == 2 && strcmp(words[0], "--format") == 0
                            ? ParseInventoryFormat(words[1])
                            : std::nullopt;
    if (!format) {
        *problem = usage;
        return false;
    }
    line->format = *format;
    return true;
}

bool ReadWatchWords(const Words& words, CommandLine* line, std::string* problem) {
    if (words.empty()) return true;
    const auto seconds = words.size() == 2 && strcmp(words[0], "--seconds") == 0
                             ? ParseNumber(words[1])
                             : std::nullopt;
    if (!seconds || *seconds == 0 || *seconds > kLongestWatchSeconds) {
        *problem = "watch takes --seconds N, N from 1 to " + std::to_string(kLongestWatchSeconds);
        return false;
    }
    line->watch_seconds = *seconds;
    return true;
}

bool ReadCheckPackageWords(const Words& words, CommandLine* line, std::string* problem) {
    if (words.size() != 2 || IsOptionWord(words[0]) || IsOptionWord(words[1])) {
        *problem = "check-package takes FIRST_INF SECOND_INF";
        return false;
    }
    line->arguments.text[0] = words[0];
    line->arguments.text[1] = words[1];
    return true;
}

// A full path: a drive's root or a share. Any other name the system would look up along its
// search path, which runs through folders that others can write to.
bool IsFullPath(const std::string& path) {
    const char letter = path.empty() ? '\0' : static_cast<char>(path[0] | 0x20);
    const bool drive = path.size() >= 3 && letter >= 'a' && letter <= 'z' && path[1] == ':' &&
                       (path[2] == '\\' || path[2] == '/');
    return drive || path.starts_with("\\\\");
}

bool ReadCommandWords(Words words, CommandLine* line, std::string* problem) {
    if (line->command_name == "inventory") return ReadInventoryWords(words, line, problem);
    if (line->command_name == "check-package") return ReadCheckPackageWords(words, line, problem);
    if (line->command_name == "watch") return ReadWatchWords(words, line, problem);
    if (line->command_name == "--version") {
        if (words.empty()) return true;
        *problem = "--version takes no arguments";
        return false;
    }
    const auto arguments =
        ReadArguments(*line->command, static_cast<int>(words.size()), words.data(), problem);
    if (!arguments) return false;
    line->arguments = *arguments;
    return true;
}

// Options that only make sense together with some commands, checked once all is read.
bool CombinationAllowed(const CommandLine& line, std::string* problem) {
    const bool calls_export = line.command != nullptr;
    if (line.what_if && !calls_export) {
        *problem = "--what-if goes with a command that calls an export";
    } else if (line.finish_at_restart && !calls_export) {
        *problem = "--finish-at-restart goes with a command that calls an export";
    } else if (line.finish_at_restart && line.what_if) {
        *problem = "--finish-at-restart goes with a real run, not with --what-if";
    } else if (!line.report_path.empty() && !calls_export) {
        *problem = "--report goes with a command that calls an export";
    } else if (!line.module_path.empty() && !IsFullPath(line.module_path)) {
        *problem = "--dll takes a full path, such as C:\\setup\\KVXSETUPW2K.dll, not \"" +
                   line.module_path + "\"";
    } else {
        return true;
    }
    return false;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(int argc, char** argv, std::string* problem) {
    CommandLine line;
    Words words;  // The command's own, in argv, which outlives the texts taken from it.
    std::vector<std::string> options_seen;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        // A second value would silently replace the first: a script that builds its command
        // line from two sources has a fault worth seeing.
        if (word == "--check-arguments" || FindHostOption(word)) {
            if (std::find(options_seen.begin(), options_seen.end(), word) != options_seen.end()) {
                *problem = word + " given twice";
                return std::nullopt;
            }
            options_seen.push_back(word);
        }
        // Accepted anywhere, so that a documented command line can be checked as it stands.
        if (word == "--check-arguments") {
            line.check_only = true;
            continue;
        }
        if (IsHelpWord(word)) {
            line.command_name = "--help";
            return line;
        }
        const HostOption* option = FindHostOption(word);
        if (option && !line.command_name.empty()) {
            *problem = word + " goes before the command: kvxsetup " + word +
                       (option->value_name ? std::string(" ") + option->value_name : "") + " " +
                       line.command_name + " ...";
            return std::nullopt;
        }
        if (option && option->flag) {
            line.*(option->flag) = true;
        } else if (option) {
            if (i + 1 == argc || IsOptionWord(argv[i + 1])) {
                *problem = word + " needs a " + option->value_name;
                return std::nullopt;
            }
            // An unset variable in a script: without this the run would go on with no log,
            // no report or the default module, and leave no record of what it did.
            if (argv[i + 1][0] == '\0') {
                *problem = word + " needs a " + option->value_name + ", not an empty one";
                return std::nullopt;
            }
            line.*(option->value) = argv[++i];
        } else if (!line.command_name.empty()) {
            words.push_back(argv[i]);
        } else if (word == "--version") {
            line.command_name = word;
        } else if (IsOptionWord(word) || word.starts_with("-")) {
            *problem = "unknown option \"" + word + "\"";
            return std::nullopt;
        } else {
            line.command = FindCommand(word);
            if (!line.command && word != "inventory" && word != "watch" &&
                word != "check-package") {
                *problem = "unknown command \"" + word + "\"";
                return std::nullopt;
            }
            line.command_name = word;
        }
    }
    if (line.command_name.empty()) {
        *problem = "no command given";
        return std::nullopt;
    }
    if (!ReadCommandWords(words, &line, problem)) return std::nullopt;
    if (!CombinationAllowed(line, problem)) return std::nullopt;
    return line;
}
