// The keys of vesko-calc's line editor, apart from any terminal: bytes go in;
// the line, cursor and history change, and the answer says what to write to
// the terminal to show them. The terminal side is line_editor_terminal.h.
// A line may hold "\n" (a calculation or chunk of several lines recalled
// from history as one entry); it shows as a return sign.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vesko_host {

enum class EditEvent {
  kEditing,     // every byte used; the line goes on
  kLineReady,   // Enter: EditResult::line holds the line
  kEndOfInput,  // Ctrl-D on an empty line
  kSuspend,     // Ctrl-Z: the caller stops the program, then redraws
};

struct EditResult {
  EditEvent event = EditEvent::kEditing;
  std::size_t consumed = 0;  // the bytes after these belong to the next line
  std::string output;        // for the terminal, in raw mode ("\r\n" ends a line)
  std::string line;          // with kLineReady
};

class LineEditor {
 public:
  explicit LineEditor(std::string prompt, std::size_t historyLimit = 1000);

  // Keys as the terminal sends them; stops after the byte that ends the line.
  EditResult feed(std::string_view bytes);
  // The prompt and line drawn anew, on the cursor's row.
  std::string redraw();
  std::string resize(std::size_t columns);
  // Adds a finished line unless blank or the same as the last one.
  bool remember(const std::string& line);
  // For the lines from now on.
  void setPrompt(std::string prompt);

  // The names Tab may complete the word before the cursor with (a word is
  // letters, digits, "_" and the bytes of `wordPunctuation`, "." for
  // "string.fo"). Without a completer Tab inserts itself.
  using Completer = std::function<std::vector<std::string>(std::string_view word)>;
  void setCompleter(Completer completer, std::string wordPunctuation = "") {
    completer_ = std::move(completer);
    wordPunctuation_ = std::move(wordPunctuation);
  }

  const std::string& line() const { return line_; }
  std::size_t cursor() const { return cursor_; }  // a byte offset
  // Which history entry is shown; history().size() for the line being typed.
  std::size_t historyPosition() const { return position_; }
  const std::vector<std::string>& history() const { return history_; }

 private:
  void key(unsigned char byte, EditResult* result);
  void control(unsigned char byte, EditResult* result);
  void escapeByte(unsigned char byte, EditResult* result);
  void escapeSequence(EditResult* result);
  void utf8Byte(unsigned char byte, EditResult* result);
  void insert(std::string_view text);
  void left();
  void right();
  void erase(std::size_t from, std::size_t to);
  void browse(bool older, EditResult* result);
  void complete(EditResult* result);
  bool isWordByte(char c) const;
  void search(unsigned char byte, EditResult* result);
  void findOlder(std::size_t from, EditResult* result);
  void endSearch(bool keep);
  std::string finish(std::string_view mark);
  void clear();

  std::string prompt_;
  std::size_t promptColumns_;
  std::size_t historyLimit_;
  std::string line_;
  std::size_t cursor_ = 0;
  std::vector<std::string> history_;
  // While browsing: the history with its edits so far, then the typed line.
  std::vector<std::string> browsing_;
  std::size_t position_ = 0;
  std::string pending_;       // an unfinished escape sequence or UTF-8 character
  bool afterReturn_ = false;  // a "\n" right after "\r" is the same Enter
  std::size_t columns_ = 80;
  std::size_t scroll_ = 0;  // the first column of the line on screen
  Completer completer_;
  std::string wordPunctuation_;
  // Ctrl-R: the text looked for, the entry that holds it (history_.size()
  // for none yet), and the line as it was before.
  bool searching_ = false, failed_ = false;
  std::string query_;
  std::size_t found_ = 0;
  std::string unsearched_;
};

}  // namespace vesko_host
