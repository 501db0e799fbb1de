#include "host/cli/line_editor.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace vesko_host {
namespace {

struct Range {
  char32_t first, last;
};

// Enough of the Unicode tables for the marks and wide scripts people type;
// a wrong guess only misplaces the cursor on screen, never the line.
constexpr Range kZeroWidth[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD},
                                {0x0610, 0x061A}, {0x064B, 0x065F}, {0x1AB0, 0x1AFF},
                                {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x20D0, 0x20FF},
                                {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
constexpr Range kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
                           {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
                           {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
                           {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
                           {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};

template <std::size_t N>
bool within(const Range (&ranges)[N], char32_t c) {
  return std::any_of(std::begin(ranges), std::end(ranges),
                     [c](const Range& range) { return c >= range.first && c <= range.last; });
}

std::size_t columnsOf(char32_t c) {
  if (within(kZeroWidth, c)) return 0;
  return within(kWide, c) ? 2 : 1;
}

constexpr unsigned char ctrl(char letter) {
  return static_cast<unsigned char>(letter & 0x1F);
}

bool isContinuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The bytes of the UTF-8 character `lead` starts; 0 when none starts so.
std::size_t utf8Length(char lead) {
  const auto byte = static_cast<unsigned char>(lead);
  if (byte < 0x80) return 1;
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  if (byte >= 0xE0 && byte <= 0xEF) return 3;
  if (byte >= 0xF0 && byte <= 0xF4) return 4;
  return 0;
}

char32_t decode(std::string_view character) {
  constexpr unsigned char kLeadBits[] = {0x7F, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = static_cast<unsigned char>(character[0]) & kLeadBits[character.size()];
  for (std::size_t i = 1; i < character.size(); ++i)
    c = (c << 6) | (static_cast<unsigned char>(character[i]) & 0x3Fu);
  return c;
}

// A character the line may hold: printable (a tab too), and in its
// shortest UTF-8 form.
bool acceptable(std::string_view character) {
  const char32_t c = decode(character);
  constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kShortest[character.size()] || c > 0x10FFFF) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  if (c < 0x20) return c == '\t';
  return c < 0x7F || c > 0x9F;
}

// Calls `visit(offset, bytes, columns)` for each character of a valid line.
template <typename Visit>
void eachCharacter(std::string_view text, Visit visit) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = std::max<std::size_t>(utf8Length(text[at]), 1);
    const std::string_view character = text.substr(at, length);
    const bool shownAsOne = character == "\t" || character == "\n";
    if (!visit(at, character, shownAsOne ? 1 : columnsOf(decode(character)))) return;
    at += length;
  }
}

std::size_t columnsOf(std::string_view text) {
  std::size_t columns = 0;
  eachCharacter(text, [&](std::size_t, std::string_view, std::size_t width) {
    columns += width;
    return true;
  });
  return columns;
}

bool validLine(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8Length(text[at]);
    if (length == 0 || at + length > text.size()) return false;
    const std::string_view character = text.substr(at, length);
    if (!std::all_of(character.begin() + 1, character.end(), isContinuation) ||
        (character != "\n" && !acceptable(character)))
      return false;
    at += length;
  }
  return true;
}

std::size_t previousStart(std::string_view text, std::size_t at) {
  if (at == 0) return 0;
  do --at;
  while (at > 0 && isContinuation(text[at]));
  return at;
}

std::size_t nextStart(std::string_view text, std::size_t at) {
  if (at >= text.size()) return text.size();
  do ++at;
  while (at < text.size() && isContinuation(text[at]));
  return at;
}

constexpr char kReturnSign[] = "\xE2\x86\xB5";  // U+21B5, one column

// A tab as a space and a return as its sign: one column each, on one row.
std::string shownOnOneRow(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\n')
      shown += kReturnSign;
    else
      shown += c == '\t' ? ' ' : c;
  }
  return shown;
}

}  // namespace

LineEditor::LineEditor(std::string prompt, std::size_t historyLimit)
    : prompt_(std::move(prompt)),
      promptColumns_(columnsOf(prompt_)),
      historyLimit_(std::max<std::size_t>(historyLimit, 1)) {}

EditResult LineEditor::feed(std::string_view bytes) {
  EditResult result;
  while (result.consumed < bytes.size() && result.event == EditEvent::kEditing)
    key(static_cast<unsigned char>(bytes[result.consumed++]), &result);
  if (result.event == EditEvent::kEditing && result.consumed > 0) result.output += redraw();
  return result;
}

// Shows the part of the line around the cursor that fits on the row, so a
// long line never wraps and "\r" always finds its start.
std::string LineEditor::redraw() {
  std::string prompt = prompt_;
  if (searching_)
    prompt = std::string(failed_ ? "failed " : "") + "reverse-i-search '" + shownOnOneRow(query_) +
             "': ";
  const std::size_t promptColumns = searching_ ? columnsOf(prompt) : promptColumns_;
  const std::size_t room = columns_ > promptColumns + 1 ? columns_ - promptColumns - 1 : 1;
  const std::size_t cursorColumn = columnsOf(std::string_view(line_).substr(0, cursor_));
  // Going left off the row shows half a row more, so that what lies just
  // before the cursor is seen too.
  if (cursorColumn < scroll_) scroll_ = cursorColumn > room / 2 ? cursorColumn - room / 2 : 0;
  if (cursorColumn > scroll_ + room) scroll_ = cursorColumn - room;

  std::string out = "\r" + prompt;
  std::size_t column = 0;
  eachCharacter(line_, [&](std::size_t, std::string_view character, std::size_t width) {
    const std::size_t end = column + width;
    if (column > scroll_ + room) return false;
    if (column >= scroll_ && end <= scroll_ + room)
      out += shownOnOneRow(character);
    else if (column < scroll_ && end > scroll_)  // a wide character cut by the left edge
      out.append(end - scroll_, ' ');
    column = end;
    return true;
  });
  out += "\x1b[K\r";
  const std::size_t target = promptColumns + cursorColumn - scroll_;
  if (target > 0) out += "\x1b[" + std::to_string(target) + "C";
  return out;
}

std::string LineEditor::resize(std::size_t columns) {
  columns_ = std::max<std::size_t>(columns, 1);
  return redraw();
}

bool LineEditor::remember(const std::string& line) {
  if (line.find_first_not_of(" \t") == std::string::npos || !validLine(line)) return false;
  if (!history_.empty() && history_.back() == line) return false;
  history_.push_back(line);
  if (history_.size() > historyLimit_) history_.erase(history_.begin());
  if (browsing_.empty()) position_ = history_.size();
  return true;
}

void LineEditor::key(unsigned char byte, EditResult* result) {
  const bool sameEnter = afterReturn_ && byte == '\n' && pending_.empty();
  afterReturn_ = byte == '\r';
  if (sameEnter) return;
  if (searching_ && pending_.empty()) {
    search(byte, result);
    return;
  }
  if (!pending_.empty() && pending_[0] == '\x1b') {
    escapeByte(byte, result);
  } else if (!pending_.empty() || byte >= 0x80) {
    utf8Byte(byte, result);
  } else if (byte == 0x1b) {
    pending_.assign(1, '\x1b');  // not = "\x1b": the same false -Wrestrict
  } else if (byte < 0x20 || byte == 0x7f) {
    control(byte, result);
  } else {
    insert(std::string(1, static_cast<char>(byte)));
  }
}

void LineEditor::control(unsigned char byte, EditResult* result) {
  switch (byte) {
    case ctrl('A'):
      cursor_ = 0;
      break;
    case ctrl('B'):
      left();
      break;
    case ctrl('C'):
      result->output += finish("^C");
      break;
    case ctrl('D'):
      if (line_.empty()) result->event = EditEvent::kEndOfInput;
      erase(cursor_, nextStart(line_, cursor_));
      break;
    case ctrl('E'):
      cursor_ = line_.size();
      break;
    case ctrl('F'):
      right();
      break;
    case ctrl('H'):
    case 0x7F:  // Backspace
      erase(previousStart(line_, cursor_), cursor_);
      break;
    case '\t':
      if (completer_)
        complete(result);
      else
        insert("\t");
      break;
    case '\n':
    case '\r':
      result->line = line_;
      result->output += finish("");
      result->event = EditEvent::kLineReady;
      break;
    case ctrl('K'):
      erase(cursor_, line_.size());
      break;
    case ctrl('L'):
      result->output += "\x1b[H\x1b[2J";
      break;
    case ctrl('N'):
    case ctrl('P'):
      browse(byte == ctrl('P'), result);
      break;
    case ctrl('U'):
      erase(0, cursor_);
      break;
    case ctrl('R'):
      searching_ = true;
      query_.clear();
      unsearched_ = line_;
      found_ = history_.size();
      failed_ = false;
      break;
    case ctrl('Z'):
      result->event = EditEvent::kSuspend;
      break;
    default:
      break;  // the other controls mean nothing here
  }
}

void LineEditor::escapeByte(unsigned char byte, EditResult* result) {
  const char c = static_cast<char>(byte);
  if (pending_.size() == 1) {
    if (c == '[' || c == 'O') {
      pending_ += c;
      return;
    }
    pending_.clear();  // Alt with a key: the key alone
    key(byte, result);
  } else if (pending_[1] == 'O' || (byte >= 0x40 && byte <= 0x7E)) {
    pending_ += c;
    escapeSequence(result);
  } else if (byte >= 0x20 && byte <= 0x3F && pending_.size() < 16) {
    pending_ += c;  // parameters, as in "\x1b[3~" and "\x1b[1;5C"
  } else {
    pending_.clear();  // not a sequence after all
    key(byte, result);
  }
}

void LineEditor::escapeSequence(EditResult* result) {
  const char final = pending_.back();
  const std::string parameters = pending_.substr(2, pending_.size() - 3);
  pending_.clear();
  const std::string first = parameters.substr(0, parameters.find(';'));
  if (final == 'H' || (final == '~' && (first == "1" || first == "7"))) {
    cursor_ = 0;
  } else if (final == 'F' || (final == '~' && (first == "4" || first == "8"))) {
    cursor_ = line_.size();
  } else if (final == '~' && first == "3") {
    erase(cursor_, nextStart(line_, cursor_));
  } else if (final == 'A' || final == 'B') {
    browse(final == 'A', result);
  } else if (final == 'C') {
    right();
  } else if (final == 'D') {
    left();
  }
}

void LineEditor::utf8Byte(unsigned char byte, EditResult* result) {
  const char c = static_cast<char>(byte);
  if (pending_.empty()) {
    if (utf8Length(c) < 2) {
      result->output += '\a';  // not the start of a character
      return;
    }
    pending_ = c;
    return;
  }
  if (!isContinuation(c)) {
    pending_.clear();  // a character cut short: drop it, take this byte afresh
    result->output += '\a';
    key(byte, result);
    return;
  }
  pending_ += c;
  if (pending_.size() < utf8Length(pending_[0])) return;
  if (acceptable(pending_))
    insert(pending_);
  else
    result->output += '\a';
  pending_.clear();
}

// Built anew rather than with std::string::insert, in which GCC 12 at -O3
// sees a false overlap (-Wrestrict) when the text is a short constant.
void LineEditor::insert(std::string_view text) {
  std::string joined;
  joined.reserve(line_.size() + text.size());
  joined.append(line_, 0, cursor_).append(text).append(line_, cursor_);
  line_.swap(joined);
  cursor_ += text.size();
}

void LineEditor::setPrompt(std::string prompt) {
  prompt_ = std::move(prompt);
  promptColumns_ = columnsOf(prompt_);
}

void LineEditor::left() {
  cursor_ = previousStart(line_, cursor_);
}

void LineEditor::right() {
  cursor_ = nextStart(line_, cursor_);
}

void LineEditor::erase(std::size_t from, std::size_t to) {
  line_.erase(from, to - from);
  cursor_ = from;
}

// Browses a copy of the history, so that edits to an earlier line last
// until Enter and the line being typed is never lost.
void LineEditor::browse(bool older, EditResult* result) {
  if (browsing_.empty()) {
    browsing_ = history_;
    browsing_.push_back(line_);
    position_ = history_.size();
  }
  if (older ? position_ == 0 : position_ + 1 >= browsing_.size()) {
    result->output += '\a';
    return;
  }
  browsing_[position_] = line_;
  position_ = older ? position_ - 1 : position_ + 1;
  line_ = browsing_[position_];
  cursor_ = line_.size();
}

// The whole line shown once more, then a new row for what follows.
std::string LineEditor::finish(std::string_view mark) {
  std::string out = "\r" + prompt_ + shownOnOneRow(line_);
  out += mark;
  out += "\x1b[K\r\n";
  clear();
  return out;
}

// Ctrl-R at work: printable bytes grow the text looked for, Ctrl-R finds
// an older entry, Backspace shrinks it, Ctrl-G and Ctrl-C go back to the
// line as it was. Any other key takes the entry found and acts as usual.
void LineEditor::search(unsigned char byte, EditResult* result) {
  if (byte == ctrl('R')) {
    findOlder(found_, result);
  } else if (byte == ctrl('G') || byte == ctrl('C')) {
    endSearch(false);
  } else if (byte == 0x7f || byte == ctrl('H')) {
    if (!query_.empty()) query_.erase(previousStart(query_, query_.size()));
    findOlder(history_.size(), result);
  } else if (byte >= 0x20 && byte != 0x7f) {
    // A UTF-8 character's bytes arrive one by one; each is looked for as
    // it comes, and a lone lead byte simply finds what holds it.
    query_ += static_cast<char>(byte);
    findOlder(std::min(found_ + 1, history_.size()), result);
  } else {
    endSearch(true);
    key(byte, result);
  }
}

// The newest entry before `from` that holds the text looked for; a bell
// when none does (the entry found before stays on show).
void LineEditor::findOlder(std::size_t from, EditResult* result) {
  for (std::size_t entry = std::min(from, history_.size()); entry-- > 0;) {
    const std::size_t at = history_[entry].find(query_);
    if (at == std::string::npos) continue;
    found_ = entry;
    line_ = history_[entry];
    cursor_ = at;
    failed_ = false;
    return;
  }
  failed_ = true;
  result->output += '\a';
}

void LineEditor::endSearch(bool keep) {
  searching_ = false;
  if (!keep) {
    line_ = unsearched_;
    cursor_ = line_.size();
  }
  browsing_.clear();
  position_ = history_.size();
}

void LineEditor::clear() {
  line_.clear();
  cursor_ = 0;
  scroll_ = 0;
  browsing_.clear();
  position_ = history_.size();
  pending_.clear();
  searching_ = false;
}

}  // namespace vesko_host
