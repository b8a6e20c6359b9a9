#include "action_data.h"

#include <vector>

bool ParseActionData(std::string_view text, ActionData* data) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t bar = text.find('|');
        fields.push_back(text.substr(0, bar));
        if (bar == std::string_view::npos) break;
        text.remove_prefix(bar + 1);
    }
    if (fields.size() != 3) return false;
    for (std::string_view field : fields) {
        if (field.empty()) return false;
    }
    data->module_path = fields[0];
    data->first_inf = fields[1];
    data->second_inf = fields[2];
    return true;
}
