#pragma once

// True when the driver service key exists and its ImagePath is one the removal may act
// on: readable within 260 bytes and not a "\??\" native path.
bool HasUsableImagePath(const char* serviceKey);
