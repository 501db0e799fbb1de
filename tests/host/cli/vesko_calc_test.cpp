// vesko-calc as a user runs it: output lines, exit statuses, standard input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace vesko_test {
namespace {

struct CalcRun {
  std::string output;
  int status = -1;
};

// Runs a shell command; its standard output and exit status.
CalcRun runCommand(const std::string& command) {
  CalcRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 256> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) run.output += chunk.data();
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Runs vesko-calc with the tiny plug-in and `arguments` (shell words),
// feeding `input` (a printf format) on standard input; standard error is
// dropped.
CalcRun runCalc(const std::string& arguments, const std::string& input = "") {
  return runCommand("printf '" + input + "' | " VESKO_CALC_PATH " --plugin " TINY_PLUGIN_PATH " " +
                    arguments + " 2>/dev/null");
}

TEST(VeskoCalcTest, OneLinePerExpressionAndTheWorstStatus) {
  CalcRun run = runCalc("'1 + 1' 'Tiny_Echo(\"x\" & \"y\")' 'Get(FilePath) <> \"\"'");
  EXPECT_EQ(run.output, "2\nxy\n1\n");
  EXPECT_EQ(run.status, 0);

  run = runCalc("'Date(1; 1; 0)' '3'");  // out of range: "?" and status 1
  EXPECT_EQ(run.output, "?\n3\n");
  EXPECT_EQ(run.status, 1);

  run = runCalc("'(1' 'Date(1; 1; 0)'");  // malformed wins
  EXPECT_EQ(run.output, "?\n?\n");
  EXPECT_EQ(run.status, 2);
}

TEST(VeskoCalcTest, ReturnsInAResultStartNewLines) {
  EXPECT_EQ(runCalc("'\"a\" & \xC2\xB6 & \"b\"'").output, "a\nb\n");
}

TEST(VeskoCalcTest, ReadsStandardInputWithoutExpressions) {
  const CalcRun run = runCalc("", "1 + 2\\n\\nUpper(\"sample\")\\n");
  EXPECT_EQ(run.output, "3\nSAMPLE\n");
  EXPECT_EQ(run.status, 0);
}

TEST(VeskoCalcTest, TheSampleDatabaseIsOpenByDefault) {
  const CalcRun run = runCalc("'Tiny_Query(\"SELECT count(*) FROM customers\")'");
  EXPECT_EQ(run.output, "6\n");
}

// A failure is status 1, a number with no text form too; a text that
// reads "?" is a result like any other.
TEST(VeskoCalcTest, FailuresAreStatusOneAndTheTextQuestionMarkIsNot) {
  CalcRun run = runCalc("'1e308 * 10'");
  EXPECT_EQ(run.output, "?\n");
  EXPECT_EQ(run.status, 1);
  run = runCalc("'1' '1/0' '2'");
  EXPECT_EQ(run.output, "1\n?\n2\n");
  EXPECT_EQ(run.status, 1);
  run = runCalc("'\"?\"' 'Tiny_Echo(\"?\")'");
  EXPECT_EQ(run.output, "?\n?\n");
  EXPECT_EQ(run.status, 0);
  run = runCalc("--json '\"?\"' '1e308 * 10' '-1e308 * 10'");
  EXPECT_EQ(run.output,
            "{\"result\":\"?\"}\n"
            "{\"error\":1218,\"message\":\"the result is out of range and has no text form\"}\n"
            "{\"error\":1218,\"message\":\"the result is out of range and has no text form\"}\n");
  EXPECT_EQ(run.status, 1);
}

// Lua chunks, as the shell's Lua mode runs them, without a terminal.
TEST(VeskoCalcTest, LuaChunksRunAsAtTheLuaPrompt) {
  CalcRun run = runCommand(VESKO_CALC_PATH
                           " --lua 'x = 6 * 7' '=x, type(x)' 'x + 1' 'return nil' 'local y = 1'"
                           " 'string.rep(\"ab\", 2)' 'x = = 1' 2>&1");
  EXPECT_EQ(run.output,
            "42\tnumber\n43\nnil\nabab\nvesko-calc: stdin:1: unexpected symbol near '='\n");
  EXPECT_EQ(run.status, 1);

  // From standard input, a chunk goes on until it is complete; an error
  // ends only its own chunk.
  run = runCommand(
      "printf 'function f(a)\\n  return a * 2\\nend\\n\\n=f(21)\\nfor i = 1, 2 do\\n"
      "print(i)\\nend\\nerror(\"boom\")\\n=f(1)\\nif true then\\n' | " VESKO_CALC_PATH
      " --lua 2>&1");
  EXPECT_EQ(run.output,
            "42\n1\n2\nvesko-calc: stdin:1: boom\n2\n"
            "vesko-calc: stdin:1: 'end' expected near '<eof>'\n");
  EXPECT_EQ(run.status, 1);

  // A FILE.lua is Lua, between calculations; JSON tells values from none.
  char path[] = "/tmp/vesko_calc_chunks_XXXXXX.lua";
  const int descriptor = mkstemps(path, 4);
  ASSERT_GE(descriptor, 0);
  const std::string chunks = "t = {\n  1, 2,\n}\n=#t\n";
  ASSERT_EQ(write(descriptor, chunks.data(), chunks.size()), static_cast<ssize_t>(chunks.size()));
  close(descriptor);
  run = runCommand(VESKO_CALC_PATH " '1 + 1' -f " + std::string(path) +
                   " 'Vesko_RunScript(\"return #t\")'");
  EXPECT_EQ(run.output, "2\n2\n2\n");
  run = runCommand(VESKO_CALC_PATH " --json -f " + std::string(path) +
                   " --lua 'error(\"no\", 0)' '=nil, \"\\t\"' 'return'");
  EXPECT_EQ(run.output,
            "{\"result\":null}\n{\"result\":\"2\"}\n{\"error\":3020,\"message\":\"no\"}\n"
            "{\"result\":\"nil\\t\\t\"}\n{\"result\":null}\n");
  EXPECT_EQ(run.status, 1);
  std::remove(path);
}

// Output that cannot be written ends the run: a full disk is status 1, and
// a reader that went away stops the calculations.
TEST(VeskoCalcTest, OutputThatCannotBeWrittenEndsTheRun) {
  EXPECT_EQ(runCommand(VESKO_CALC_PATH " --plugin " TINY_PLUGIN_PATH " '1' >/dev/full 2>&1").status,
            1);
  EXPECT_EQ(runCommand(VESKO_CALC_PATH " --lua '=1' >/dev/full 2>&1").status, 1);
  EXPECT_NE(runCommand(VESKO_CALC_PATH " --plugin " TINY_PLUGIN_PATH " '1' 2>&1 >/dev/full")
                .output.find("cannot write the output"),
            std::string::npos);

  // Each calculation counts itself in a file; the reader takes one line.
  char folder[] = "/tmp/vesko_calc_pipe_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string count = std::string(folder) + "/count", many = std::string(folder) + "/many";
  {
    std::FILE* file = std::fopen(many.c_str(), "w");
    ASSERT_NE(file, nullptr);
    for (int i = 0; i < 20000; ++i)
      std::fprintf(file,
                   "Vesko_RunScript(\"local f = io.open('%s', 'a') f:write('x') f:close() "
                   "return string.rep('y', 100)\")\n",
                   count.c_str());
    std::fclose(file);
  }
  const CalcRun run = runCommand(VESKO_CALC_PATH " -f " + many + " | head -1");
  EXPECT_EQ(run.output, std::string(100, 'y') + "\n");
  EXPECT_LT(std::filesystem::file_size(count), 1000u);  // a few buffers' worth, not 20000
  std::filesystem::remove_all(folder);
}

// A second vesko-calc on a database file another one is writing waits for
// it, as long as --query-seconds allows.
TEST(VeskoCalcTest, ALockedDatabaseIsWaitedFor) {
  char folder[] = "/tmp/vesko_calc_lock_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string database = std::string(folder) + "/shared.sqlite";
  const std::string script = std::string(folder) + "/hold.lua";
  std::filesystem::copy_file(SAMPLE_DATABASE_PATH, database);
  std::filesystem::permissions(database, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  {
    std::FILE* file = std::fopen(script.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(
        "vesko.ExecuteSQL('BEGIN IMMEDIATE')\n"
        "vesko.ExecuteSQL(\"UPDATE customers SET name = name\")\n"
        "io.open(... .. '/held', 'w'):close()\n"
        "local t = os.time() while os.time() - t < 2 do end\n"
        "vesko.ExecuteSQL('COMMIT')\n",
        file);
    std::fclose(file);
  }
  const std::string holder = VESKO_CALC_PATH " --db " + database + " 'Vesko_RunFile(\"" + script +
                             "\"; \"" + folder + "\")' >/dev/null & ";
  const std::string held = "while [ ! -e " + std::string(folder) + "/held ]; do sleep 0.05; done; ";
  const std::string writer = VESKO_CALC_PATH " --plugin " TINY_PLUGIN_PATH " --db " + database;
  const std::string update = " 'Tiny_Query(\"UPDATE customers SET name = name\")'";
  CalcRun run = runCommand(holder + held + writer + " --query-seconds 30" + update + "; wait");
  EXPECT_EQ(run.status, 0) << run.output;
  std::filesystem::remove(std::string(folder) + "/held");
  run = runCommand(holder + held + writer + " --query-seconds 0.2" + update + " 2>&1; wait");
  EXPECT_NE(run.output.find("locked"), std::string::npos) << run.output;
  std::filesystem::remove_all(folder);
}

// The sample is opened read-only: a query cannot destroy it for later
// runs.  A file named with --db stays writable.
TEST(VeskoCalcTest, TheSampleDatabaseIsReadOnly) {
  EXPECT_EQ(runCalc("'Tiny_Query(\"DROP TABLE customers\")'").status, 1);
  EXPECT_EQ(runCalc("'Tiny_Query(\"SELECT count(*) FROM customers\")'").output, "6\n");
  const std::string copy = ::testing::TempDir() + "vesko-calc-writable.sqlite";
  std::filesystem::copy_file(SAMPLE_DATABASE_PATH, copy,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  const CalcRun run = runCalc("--db " + copy +
                              " 'Tiny_Query(\"DROP TABLE orders\")' "
                              "'Tiny_Query(\"SELECT count(*) FROM orders\")'");
  EXPECT_EQ(run.output, "\n?\n");  // dropped, then gone
  std::filesystem::remove(copy);
}

TEST(VeskoCalcTest, QueryLimitsAreOptions) {
  const std::string endless =
      "'Tiny_Query(\"WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) "
      "SELECT count(*) FROM r\")'";
  EXPECT_EQ(runCalc("--query-seconds 0.2 " + endless).status, 1);
  EXPECT_EQ(runCalc("--query-memory 0 --query-seconds 1e3 '1'").status, 0);
  EXPECT_EQ(runCalc("--query-seconds -1 '1'").status, 2);
  EXPECT_EQ(runCalc("--query-memory lots '1'").status, 2);
  EXPECT_EQ(runCalc("--query-seconds").status, 2);
}

TEST(VeskoCalcTest, BadOptionsAndFilesEndWithStatusTwo) {
  EXPECT_EQ(runCalc("--nonsense").status, 2);
  EXPECT_EQ(runCalc("--db").status, 2);
  EXPECT_EQ(runCalc("--db '' '1'").status, 2);  // not the sample
  EXPECT_EQ(runCalc("--plugin '' '1'").status, 2);
  EXPECT_EQ(runCalc("-f /tmp '1'").status, 2);  // a folder is no empty file
  EXPECT_EQ(runCalc("-f - '1'", "").status, 0);
  EXPECT_EQ(runCalc("-f /proc/self/mem '1'").status, 2);  // fails while read
  EXPECT_EQ(runCalc("--db /nonexistent/file.sqlite '1'").status, 2);
  EXPECT_EQ(runCalc("--plugin /nonexistent/lib.so '1'").status, 2);
  const CalcRun help = runCalc("--help");
  EXPECT_EQ(help.status, 0);
  // The usage lines name every option the text describes.
  std::string usage = help.output.substr(0, help.output.find("\n\n")) + " ";
  for (char& c : usage)
    if (c == '[' || c == ']' || c == '|' || c == '\n') c = ' ';
  for (const char* option : {"--db", "--plugin", "--json", "--lua", "--query-seconds",
                             "--query-memory", "-f", "-v", "--version", "-h", "--help"})
    EXPECT_NE(usage.find(" " + std::string(option) + " "), std::string::npos) << option;
  EXPECT_NE(help.output.find("Exit status"), std::string::npos);
  EXPECT_NE(help.output.find("examples/sample.sql"), std::string::npos);
}

TEST(VeskoCalcTest, JsonIsOneObjectPerCalculation) {
  const CalcRun run = runCalc(
      "--json '\"a\" & \xC2\xB6 & \"b \\\"q\\\"\"' '(1' 'Date(1; 1; 0)' 'Tiny_Echo(\"\xC3\xA9\")'");
  EXPECT_EQ(run.output,
            "{\"result\":\"a\\rb \\\"q\\\"\"}\n"
            "{\"error\":1207,\"message\":\"\\\"(\\\" without \\\")\\\" at character 1\"}\n"
            "{\"error\":1218,\"message\":\"Date gives a date outside the years 1 to 4000\"}\n"
            "{\"result\":\"\xC3\xA9\"}\n");
  EXPECT_EQ(run.status, 2);
  // The plug-in's own error, as Vesko_LastError tells it.
  EXPECT_EQ(
      runCommand(VESKO_CALC_PATH " --json 'Vesko_RunScript(\"error(\\\"no\\\", 0)\")'").output,
      "{\"error\":3020,\"message\":\"no\"}\n");
}

TEST(VeskoCalcTest, FilesAndExpressionsRunInTheirOrder) {
  char path[] = "/tmp/vesko_calc_file_XXXXXX";
  const int descriptor = mkstemp(path);
  ASSERT_GE(descriptor, 0);
  const std::string lines = "1 + 1\n\n  // a note\nUpper(\"x\")\r\n";
  ASSERT_EQ(write(descriptor, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  close(descriptor);
  CalcRun run = runCalc("'0' -f " + std::string(path) + " '9' -f -", "7\\n");
  EXPECT_EQ(run.output, "0\n2\nX\n9\n7\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(runCalc("-f /nonexistent/calculations '1'").status, 2);
  EXPECT_EQ(runCalc("-f").status, 2);
  std::remove(path);
}

TEST(VeskoCalcTest, SqlFailuresTellSqlitesReason) {
  const CalcRun run =
      runCommand(VESKO_CALC_PATH " --plugin " TINY_PLUGIN_PATH
                                 " 'Tiny_Query(\"SELECT nope FROM customers\")' 2>&1");
  EXPECT_NE(run.output.find("vesko-calc: SQL: no such column: nope\n"), std::string::npos);
  EXPECT_EQ(run.status, 1);
}

TEST(VeskoCalcTest, VersionAndNegativeNumbers) {
  const CalcRun version = runCalc("--version");
  EXPECT_EQ(version.output.rfind("vesko-calc ", 0), 0u);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(runCalc("-v").output, version.output);
  EXPECT_EQ(runCalc("'-1 + 3' -- '--2'").output, "2\n2\n");
}

// Every example of --help, run as the text shows it, from a scratch folder.
TEST(VeskoCalcTest, EveryHelpExampleRuns) {
  const std::string help = runCommand(VESKO_CALC_PATH " --help").output;
  const std::size_t examples = help.find("Examples:\n");
  ASSERT_NE(examples, std::string::npos);
  std::string program = VESKO_CALC_PATH;
  const std::string folder = program.substr(0, program.rfind('/'));
  char scratch[] = "/tmp/vesko_calc_examples_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  int ran = 0;
  std::size_t at = help.find('\n', examples) + 1;
  for (std::size_t end; (end = help.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string example = help.substr(at, end - at);
    if (example.find("vesko-calc") == std::string::npos) continue;
    const CalcRun run = runCommand("cd " + std::string(scratch) + " && PATH=" + folder +
                                   ":$PATH; " + example + " 2>&1");
    EXPECT_EQ(run.status, 0) << example << "\n" << run.output;
    EXPECT_EQ(run.output.find("?"), std::string::npos) << example << "\n" << run.output;
    ++ran;
  }
  EXPECT_GE(ran, 5);
  std::remove((std::string(scratch) + "/calcs.txt").c_str());
  rmdir(scratch);
}

}  // namespace
}  // namespace vesko_test
