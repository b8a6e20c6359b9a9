#include "change_report.h"

#include <nlohmann/json.hpp>

#include "interposition/error_text.h"
#include "interposition/machine_changes.h"
#include "inventory_format.h"
#include "run_log.h"
#include "win32_common/owned_file.h"

namespace {

HANDLE g_report = INVALID_HANDLE_VALUE;
std::string g_report_path;

}  // namespace

void PrintChangeReport(bool show) {
    std::vector<std::string> lines = DescribeRecordedChanges();
    lines.push_back(SummarizeRecordedChanges());
    for (const std::string& line : lines) {
        if (show) {
            PrintAndLog(stdout, line);
        } else {
            LogLine(GetCurrentProcessId(), line);
        }
    }
}

// Made anew: nothing prepared at the path, a link least of all, receives the report.
DWORD OpenChangeReport(const std::string& path, std::string* refusal) {
    DWORD error = ERROR_SUCCESS;
    g_report = OpenOwnFile(path, FileStart::kFresh, GENERIC_WRITE, 0, &error, refusal);
    if (g_report == INVALID_HANDLE_VALUE) return error;
    g_report_path = path;
    return ERROR_SUCCESS;
}

void DiscardChangeReport() {
    if (g_report == INVALID_HANDLE_VALUE) return;
    CloseHandle(g_report);
    g_report = INVALID_HANDLE_VALUE;
    DeleteFileA(g_report_path.c_str());
}

DWORD WriteChangeReport(const CallFacts& facts) {
    using Json = nlohmann::ordered_json;
    Json changes = Json::array();
    Json refusals = Json::array();
    for (const RecordedChange& change : RecordedChanges()) {
        Json item = {{"action", change.action}, {"object", AnsiToUtf8(change.object)}};
        if (change.error == ERROR_SUCCESS) {
            changes.push_back(std::move(item));
        } else {
            item["error"] = change.error;
            item["message"] = AnsiToUtf8(ResultText(change.error));
            refusals.push_back(std::move(item));
        }
    }
    Json skipped = Json::array();
    for (const RecordedChange& skip : RecordedSkips()) {
        skipped.push_back({{"object", AnsiToUtf8(skip.object)},
                           {"error", skip.error},
                           {"message", AnsiToUtf8(ResultText(skip.error))}});
    }
    Json reasons = Json::array();
    for (const std::string& reason : facts.restart_reasons) reasons.push_back(AnsiToUtf8(reason));
    const Json document = {{"command", facts.command},
                           {"export", facts.export_name},
                           {"preview", facts.preview},
                           {"result", facts.result},
                           {"result_text", AnsiToUtf8(DescribeResult(facts.result))},
                           {"changes", std::move(changes)},
                           {"refusals", std::move(refusals)},
                           {"skipped", std::move(skipped)},
                           {"restart_needed", !facts.restart_reasons.empty()},
                           {"restart_reasons", std::move(reasons)},
                           {"exit_code", facts.exit_code}};
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    if (g_report == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(g_report, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    const DWORD error = wrote && written == text.size() ? ERROR_SUCCESS : GetLastError();
    CloseHandle(g_report);
    g_report = INVALID_HANDLE_VALUE;
    return wrote && written == text.size() ? ERROR_SUCCESS : (error ? error : ERROR_WRITE_FAULT);
}
