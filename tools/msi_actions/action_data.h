// What the package hands each deferred action: deferred actions cannot read the session's
// properties, only the one string the package formatted for them before the script ran.
#pragma once

#include <string>
#include <string_view>

struct ActionData {
    std::string module_path;  // The installed KVXSETUPW2K.dll, full path.
    std::string first_inf;
    std::string second_inf;
};

// "MODULE|FIRST_INF|SECOND_INF": '|' cannot occur in a Windows path, so no escaping is
// needed. False unless there are exactly three fields, none empty.
bool ParseActionData(std::string_view text, ActionData* data);
