// vesko-calc as a user runs it: output lines, exit statuses, standard input.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

// Runs vesko-calc with the tiny plug-in and `arguments` (shell words),
// feeding `input` (a printf format) on standard input; standard error is
// dropped.
CalcRun runCalc(const std::string& arguments, const std::string& input = "") {
  const std::string command = "printf '" + input +
                              "' | " VESKO_CALC_PATH " --plugin " TINY_PLUGIN_PATH " " + arguments +
                              " 2>/dev/null";
  CalcRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 256> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) run.output += chunk.data();
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
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

}  // namespace
}  // namespace vesko_test
