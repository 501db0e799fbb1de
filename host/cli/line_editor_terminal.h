// Lines typed at a terminal, edited with a LineEditor. The terminal is raw
// only while a line is typed, and restored on every way out: the line
// ended, an error, exit, or a signal that ends or stops the program.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/cli/line_editor.h"

namespace vesko_host {

class TerminalLineReader {
 public:
  // Whether standard input and output are one terminal that can edit lines.
  static bool usable();

  // `historyPath` "" keeps the history of this run only.
  TerminalLineReader(std::string prompt, std::string historyPath);

  // The next line; false at the end of input, with `error` set when the
  // terminal failed rather than ended.
  bool readLine(std::string* line, std::string* error);
  // Adds an entry to the history and its file: a line, or the lines of one
  // calculation or chunk joined by "\n".
  void keep(const std::string& entry);
  const std::vector<std::string>& history() const { return editor_.history(); }

  void setPrompt(std::string prompt) { editor_.setPrompt(std::move(prompt)); }
  void setCompleter(LineEditor::Completer completer, std::string wordPunctuation = "") {
    editor_.setCompleter(std::move(completer), std::move(wordPunctuation));
  }

 private:
  EditResult readKeys(std::string* error);

  LineEditor editor_;
  std::string unread_;  // typed ahead, past the line that ended
  std::string historyPath_;
};

}  // namespace vesko_host
