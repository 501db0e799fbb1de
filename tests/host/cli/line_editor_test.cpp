// vesko-calc's line editor: its keys without a terminal, then the whole
// command at a pseudo-terminal.
#include "host/cli/line_editor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host/cli/terminal_run.h"

namespace vesko_test {
namespace {

using vesko_host::EditEvent;
using vesko_host::EditResult;
using vesko_host::LineEditor;

// The row the editor draws on, as a terminal shows it.
struct Row {
  std::vector<std::string> cells;  // "" under the right half of a wide character
  std::size_t cursor = 0;

  std::string text() const {
    std::string joined;
    for (const std::string& cell : cells) joined += cell;
    return joined;
  }

  void show(const std::string& output) {
    for (std::size_t at = 0; at < output.size();) {
      const unsigned char byte = static_cast<unsigned char>(output[at]);
      if (byte == '\x1b') {
        const std::size_t end = output.find_first_of("CHJK", at);
        const std::string count = output.substr(at + 2, end - at - 2);
        if (output[end] == 'C') cursor += count.empty() ? 1 : std::stoul(count);
        if (output[end] == 'K' || output[end] == 'J') cells.resize(std::min(cursor, cells.size()));
        if (output[end] == 'H') cursor = 0;
        at = end + 1;
        continue;
      }
      if (byte == '\r') cursor = 0;
      if (byte == '\n') cells.clear();
      if (byte < 0x20) {
        ++at;
        continue;
      }
      const std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
      const std::size_t width = byte >= 0xE3 && byte <= 0xE9 ? 2 : 1;  // CJK in the tests
      if (cells.size() < cursor + width) cells.resize(cursor + width, " ");
      cells[cursor] = output.substr(at, length);
      if (width == 2) cells[cursor + 1] = "";
      cursor += width;
      at += length;
    }
  }
};

EditResult type(LineEditor& editor, const std::string& keys, Row* row = nullptr) {
  EditResult result = editor.feed(keys);
  if (row != nullptr) row->show(result.output);
  return result;
}

TEST(LineEditorTest, TypesAndMovesByWholeCharacters) {
  LineEditor editor("> ");
  type(editor, "h\xC3\xA9\xE6\x97\xA5!");  // hé日!
  EXPECT_EQ(editor.line(), "h\xC3\xA9\xE6\x97\xA5!");
  type(editor, "\x1b[D\x1b[D");  // before 日
  EXPECT_EQ(editor.cursor(), 3u);
  type(editor, "\x7f");  // Backspace takes é whole
  EXPECT_EQ(editor.line(), "h\xE6\x97\xA5!");
  type(editor, "\x1b[3~");  // Delete takes 日 whole
  EXPECT_EQ(editor.line(), "h!");
  type(editor, "\x01x\x05y\x1b[Hz\x1b[F\x1bOHw");  // Ctrl-A, Ctrl-E, Home, End, Home
  EXPECT_EQ(editor.line(), "wzxh!y");
  type(editor, "\x06\x06\x02\x04");  // Ctrl-F, Ctrl-F, Ctrl-B, then Ctrl-D deletes
  EXPECT_EQ(editor.line(), "wzh!y");
  type(editor, "\x0b");  // Ctrl-K: to the end
  EXPECT_EQ(editor.line(), "wz");
  type(editor, "ab\x1b[D\x15");  // Ctrl-U: to the start
  EXPECT_EQ(editor.line(), "b");
  EXPECT_EQ(editor.cursor(), 0u);
  type(editor, "\x1b[1;5C\x1b[7~\x1b[8~q");  // with modifiers, and rxvt's Home/End
  EXPECT_EQ(editor.line(), "bq");
}

TEST(LineEditorTest, EnterEndsTheLineAndLeavesTheRestForTheNext) {
  LineEditor editor("> ");
  EditResult result = type(editor, "1 + 2\r\n3\n4");
  EXPECT_EQ(result.event, EditEvent::kLineReady);
  EXPECT_EQ(result.line, "1 + 2");
  EXPECT_EQ(result.consumed, 6u);
  EXPECT_EQ(result.output.substr(result.output.size() - 2), "\r\n");
  EXPECT_EQ(editor.line(), "");

  result = type(editor, "\n3\n4");  // "\r\n" was one Enter
  EXPECT_EQ(result.line, "3");
  EXPECT_EQ(result.consumed, 3u);
  result = type(editor, "4\t5\r");  // a tab is kept, shown as a space
  EXPECT_EQ(result.line, "4\t5");
  EXPECT_NE(result.output.find("> 4 5"), std::string::npos);
}

TEST(LineEditorTest, ControlKeysEndClearOrSuspend) {
  LineEditor editor("> ");
  EXPECT_EQ(type(editor, "\x04").event, EditEvent::kEndOfInput);

  Row row;
  EditResult result = type(editor, "abc\x03", &row);
  EXPECT_EQ(result.event, EditEvent::kEditing);
  EXPECT_NE(result.output.find("> abc^C\x1b[K\r\n"), std::string::npos);
  EXPECT_EQ(editor.line(), "");
  EXPECT_EQ(row.text(), "> ");  // a fresh prompt

  result = type(editor, "x\x1ay");
  EXPECT_EQ(result.event, EditEvent::kSuspend);
  EXPECT_EQ(result.consumed, 2u);
  EXPECT_EQ(editor.line(), "x");
}

TEST(LineEditorTest, BadBytesAreRefusedAndTheLineKept) {
  LineEditor editor("> ");
  EditResult result = type(editor,
                           "a\x80"
                           "b\xC0\xAF"
                           "c\xED\xA0\x80"
                           "d\xC2\x85"
                           "e\xF4\x90\x80\x80");
  EXPECT_EQ(editor.line(), "abcde");  // stray, overlong, surrogate, C1 control, past U+10FFFF
  EXPECT_NE(result.output.find('\a'), std::string::npos);

  type(editor,
       "\xE6\x97"
       "f");  // cut short: the next key still counts
  EXPECT_EQ(editor.line(), "abcdef");
  type(editor, "\x1b[99Z\x1b[5~\x1bx\x07\x1c");  // unknown sequences, Alt-x, other controls
  EXPECT_EQ(editor.line(), "abcdefx");

  type(editor, "\x1b");  // a sequence and a character split between reads
  type(editor, "[D\xE6");
  type(editor, "\x97\xA5");
  EXPECT_EQ(editor.line(), "abcdef\xE6\x97\xA5x");
}

TEST(LineEditorTest, UpAndDownBrowseTheHistoryWithoutLosingEdits) {
  LineEditor editor("> ", 3);
  EXPECT_FALSE(editor.remember(" \t"));
  EXPECT_FALSE(editor.remember("bad\x1b[2J"));  // would draw on the terminal
  for (const char* line : {"zero", "one", "two", "two", "three"}) editor.remember(line);
  ASSERT_EQ(editor.history(), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(editor.historyPosition(), 3u);

  type(editor, "draft\x1b[A");
  EXPECT_EQ(editor.line(), "three");
  EXPECT_EQ(editor.historyPosition(), 2u);
  type(editor, "!\x10\x10");  // edit it, then Ctrl-P twice
  EXPECT_EQ(editor.line(), "one");
  EXPECT_NE(type(editor, "\x1b[A").output.find('\a'), std::string::npos);  // the oldest
  type(editor, "\x1b[B\x0e");                                              // Down, Ctrl-N
  EXPECT_EQ(editor.line(), "three!");
  type(editor, "\x1b[B");
  EXPECT_EQ(editor.line(), "draft");
  EXPECT_EQ(editor.historyPosition(), 3u);

  type(editor, "\x1b[A\x1b[A\r");  // Enter on a recalled line: the history is unedited
  EXPECT_EQ(editor.history().back(), "three");
  EXPECT_EQ(editor.historyPosition(), 3u);
  type(editor, "\x1b[A");
  EXPECT_EQ(editor.line(), "three");
}

// Ctrl-R looks back through the history for what is typed after it.
TEST(LineEditorTest, CtrlRSearchesTheHistory) {
  LineEditor editor("> ");
  for (const char* entry : {"Upper(\"a\")", "x = 1", "Upper(\"b\")", "y = 2"})
    editor.remember(entry);
  Row row;
  type(editor, "draft\x12Up", &row);
  EXPECT_EQ(editor.line(), "Upper(\"b\")");  // the newest that holds it
  EXPECT_NE(row.text().find("reverse-i-search 'Up': Upper(\"b\")"), std::string::npos);
  EXPECT_EQ(editor.cursor(), 0u);
  type(editor, "\x12");  // an older one
  EXPECT_EQ(editor.line(), "Upper(\"a\")");
  EXPECT_NE(type(editor, "\x12").output.find('\a'), std::string::npos);  // none older
  EXPECT_EQ(editor.line(), "Upper(\"a\")");
  type(editor, "\x07", &row);  // Ctrl-G: the line as it was
  EXPECT_EQ(editor.line(), "draft");
  EXPECT_EQ(row.text(), "> draft");

  // Backspace widens the search again; Enter takes the entry found.
  type(editor, "\x12= 1\x7f\x7f\x7f");
  EXPECT_EQ(editor.line(), "y = 2");
  type(editor, "x =");
  EXPECT_EQ(editor.line(), "x = 1");
  EditResult result = type(editor, "\r");
  EXPECT_EQ(result.event, EditEvent::kLineReady);
  EXPECT_EQ(result.line, "x = 1");

  // A text nowhere in the history fails, and says so; an editing key ends
  // the search and edits the entry found.
  type(editor, "\x12zzz", &row);
  EXPECT_NE(row.text().find("failed reverse-i-search 'zzz'"), std::string::npos);
  type(editor, "\x03");  // Ctrl-C gives up too
  EXPECT_EQ(editor.line(), "");
  type(editor, "\x12y =\x05!");
  EXPECT_EQ(editor.line(), "y = 2!");
  type(editor, "\x15\x12\"b\x1b[C\x1b[C;");  // Right ends it, then moves
  EXPECT_EQ(editor.line(), "Upper(\"b;\")");

  LineEditor empty("> ");
  EXPECT_NE(type(empty,
                 "\x12"
                 "a")
                .output.find('\a'),
            std::string::npos);
  type(empty, "\r");
  EXPECT_EQ(empty.line(), "");
}

// An entry of several lines is one line of the editor, its returns shown
// as signs, and given back whole at Enter.
TEST(LineEditorTest, AnEntryOfSeveralLinesIsRecalledWhole) {
  LineEditor editor("> ");
  EXPECT_TRUE(editor.remember("for i = 1, 2 do\n  print(i)\nend"));
  EXPECT_FALSE(editor.remember("a\n\x1b[2J"));
  Row row;
  type(editor, "\x1b[A", &row);
  EXPECT_EQ(row.text(),
            "> for i = 1, 2 do\xE2\x86\xB5  print(i)\xE2\x86\xB5"
            "end");
  const EditResult result = type(editor, "\r");
  EXPECT_EQ(result.line, "for i = 1, 2 do\n  print(i)\nend");
  EXPECT_EQ(result.output.find('\n'), result.output.size() - 1);  // one row, then the next
}

TEST(LineEditorTest, TheRowShowsTheLineAroundTheCursor) {
  LineEditor editor("> ");
  Row row;
  row.show(editor.resize(20));                        // room for 17 columns of line
  type(editor, "\xE6\x97\xA5\xE6\x9C\xAC ab", &row);  // 日本 ab
  EXPECT_EQ(row.text(), "> \xE6\x97\xA5\xE6\x9C\xAC ab");
  EXPECT_EQ(row.cursor, 9u);
  type(editor, "\x1b[D\x1b[D\x1b[D", &row);
  EXPECT_EQ(row.cursor, 6u);

  const std::string digits = "0123456789012345678901234567890123456789";
  type(editor, "\x05" + digits, &row);
  EXPECT_EQ(row.text(), "> " + digits.substr(digits.size() - 17));
  EXPECT_EQ(row.cursor, 19u);
  type(editor, "\x01", &row);
  EXPECT_EQ(row.text(), "> \xE6\x97\xA5\xE6\x9C\xAC ab" + digits.substr(0, 10));
  EXPECT_EQ(row.cursor, 2u);
  row.show(editor.resize(10));
  EXPECT_LE(row.cells.size(), 10u);

  EditResult result = type(editor, "\r", &row);  // the whole line once more at Enter
  EXPECT_NE(result.output.find(digits), std::string::npos);
}

std::string fileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(LineEditorTerminalTest, EditsRecallsAndRestoresTheTerminal) {
  if (!TerminalRun().open()) GTEST_FAIL() << "cannot run: no pseudo-terminals here";
  char folder[] = "/tmp/vesko_line_editor_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string home = folder, historyPath = home + "/.vesko_calc_history";
  {
    TerminalRun run;
    ASSERT_TRUE(run.open() && run.start(home));
    ASSERT_TRUE(run.answers("1 + 2\r", "3\r\n"));
    ASSERT_TRUE(
        run.answers("\x1b[A\x7f"
                    "5\r",
                    "6\r\n"));  // Up, Backspace
    ASSERT_TRUE(run.answers("Upper(\"x\")\x03", "^C"));
    EXPECT_EQ(run.end(), 0);
    EXPECT_EQ(run.output().find("X\r\n"), std::string::npos);  // cleared, not evaluated
    EXPECT_TRUE(run.settingsRestored());
  }
  EXPECT_EQ(fileText(historyPath), "1 + 2\n1 + 5\n");
  {
    TerminalRun run;  // a second run recalls the first one's lines
    ASSERT_TRUE(run.open() && run.start(home));
    ASSERT_TRUE(run.answers("\x1b[A\r", "6\r\n"));
    EXPECT_EQ(run.end(), 0);
    EXPECT_TRUE(run.settingsRestored());
  }
  std::remove(historyPath.c_str());
  rmdir(folder);
}

}  // namespace
}  // namespace vesko_test
