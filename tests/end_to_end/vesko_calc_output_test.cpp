// vesko-calc with the real plug-in, its output piped: what scripts print
// and the results come out in the order they were made.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

namespace vesko_test {
namespace {

std::string pipedOutput(const std::string& input) {
  const std::string command =
      "printf '" + input + "' | " VESKO_CALC_PATH " --plugin " VESKO_PLUGIN_PATH " 2>/dev/null";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  std::array<char, 256> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) output += chunk.data();
  pclose(pipe);
  return output;
}

TEST(VeskoCalcOutputTest, PrintedLinesKeepTheirPlaceAmongResults) {
  EXPECT_EQ(pipedOutput(
                "1\\nVesko_RunScript(\"print(\\\\\"printed\\\\\") io.write(\\\\\"w\\\\\\\\n\\\\\") "
                "return 2\")\\n3\\r\\n"),
            "1\nprinted\nw\n2\n3\n");
}

TEST(VeskoCalcOutputTest, ManyPipedLinesAllComeBack) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    input += "Vesko_RunScript(\"return ...\"; " + std::to_string(i) + ")\\n";
    expected += std::to_string(i) + "\n";
  }
  EXPECT_EQ(pipedOutput(input), expected);
}

}  // namespace
}  // namespace vesko_test
