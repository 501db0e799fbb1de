// Tab: the word before the cursor completed from the completer's names.
#include <string>
#include <vector>

#include "host/cli/line_editor.h"

namespace vesko_host {
namespace {

char folded(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// The length of the beginning every name shares, in any letter case.
std::size_t sharedBeginning(const std::vector<std::string>& names) {
  std::size_t shared = names.front().size();
  for (const std::string& name : names) {
    std::size_t i = 0;
    while (i < shared && i < name.size() && folded(name[i]) == folded(names.front()[i])) ++i;
    shared = i;
  }
  return shared;
}

}  // namespace

bool LineEditor::isWordByte(char c) const {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         (c != '\0' && wordPunctuation_.find(c) != std::string::npos);
}

// One name: the word becomes it. Several: the word grows to what they share
// or, when it cannot grow, they are listed under the line and the line is
// drawn again below them. None, or no word: a bell.
void LineEditor::complete(EditResult* result) {
  std::size_t start = cursor_;
  while (start > 0 && isWordByte(line_[start - 1])) --start;
  const std::string word = line_.substr(start, cursor_ - start);
  const std::vector<std::string> names =
      word.empty() ? std::vector<std::string>() : completer_(word);
  if (names.empty()) {
    result->output += '\a';
    return;
  }
  const std::size_t shared = sharedBeginning(names);
  if (names.size() == 1 || shared > word.size()) {
    erase(start, cursor_);
    insert(std::string_view(names.front()).substr(0, shared));
    return;
  }
  result->output += "\r\n";
  for (const std::string& name : names) result->output += name + "  ";
  result->output += "\r\n";
}

}  // namespace vesko_host
