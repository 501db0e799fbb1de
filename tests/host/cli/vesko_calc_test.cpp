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

// Every "?" is status 1, a number with no text form too.
TEST(VeskoCalcTest, EveryQuestionMarkIsStatusOne) {
  CalcRun run = runCalc("'1e308 * 10'");
  EXPECT_EQ(run.output, "?\n");
  EXPECT_EQ(run.status, 1);
  run = runCalc("'1' '1/0' '2'");
  EXPECT_EQ(run.output, "1\n?\n2\n");
  EXPECT_EQ(run.status, 1);
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
  EXPECT_EQ(runCalc("--db /nonexistent/file.sqlite '1'").status, 2);
  EXPECT_EQ(runCalc("--plugin /nonexistent/lib.so '1'").status, 2);
  const CalcRun help = runCalc("--help");
  EXPECT_EQ(help.status, 0);
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
