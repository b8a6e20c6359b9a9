// The setup program's own log, appended to line by line as the setup program itself does
// (each line after its time and process), so that the lines of both stay in order and no
// handle stays open between them.
#pragma once

#include <string>

void AppendToSetupLog(const char* log_path, const std::string& line);
