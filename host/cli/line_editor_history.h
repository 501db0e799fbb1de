// The line editor's history file: one entry a line, the newest last,
// readable by its owner only. An entry of several lines is kept on one, its
// returns written as "\r" (a byte no typed line holds).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vesko_host {

// ~/.vesko_calc_history, or "" without a home folder.
std::string historyFilePath();

// The newest `limit` lines; none when the file is missing or unreadable. A
// longer file is cut down to them, so it never grows without bound.
std::vector<std::string> readHistoryFile(const std::string& path, std::size_t limit);

bool appendHistoryFile(const std::string& path, const std::string& line, std::string* error);

}  // namespace vesko_host
