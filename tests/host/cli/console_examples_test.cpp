// The console examples of the README and the Lua reference: each "$ "
// line runs in a scratch folder, in order, and prints what the lines below
// it show, standard error included.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vesko_test {
namespace {

struct Command {
  std::string document;
  int line = 0;
  std::string text, output;
};

// "build/host/..." as the documents write it, for this build's files.
std::string forThisBuild(std::string command) {
  const std::string program = VESKO_CALC_PATH;
  const std::pair<std::string, std::string> replacements[] = {
      {"build/host/vesko-calc", program}, {"build/host/sample.sqlite", SAMPLE_DATABASE_PATH}};
  for (const auto& [from, to] : replacements)
    for (std::size_t at = 0; (at = command.find(from, at)) != std::string::npos; at += to.size())
      command.replace(at, from.size(), to);
  return command;
}

std::vector<Command> consoleCommands(const std::string& path) {
  std::vector<Command> commands;
  std::ifstream document(path);
  std::string text;
  bool inConsole = false;
  for (int line = 1; std::getline(document, text); ++line) {
    if (text.rfind("```", 0) == 0) {
      inConsole = !inConsole && text == "```console";
      continue;
    }
    if (!inConsole) continue;
    if (text.rfind("$ ", 0) == 0)
      commands.push_back({path, line, text.substr(2), ""});
    else if (!commands.empty())
      commands.back().output += text + "\n";
  }
  return commands;
}

std::string run(const std::string& folder, const std::string& command) {
  FILE* pipe = popen(("cd " + folder + " && " + forThisBuild(command) + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return "(cannot run)";
  std::string output;
  std::array<char, 256> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) output += chunk.data();
  pclose(pipe);
  return output;
}

TEST(ConsoleExamplesTest, EveryCommandPrintsWhatTheDocumentShows) {
  char scratch[] = "/tmp/vesko_console_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  std::size_t count = 0;
  const std::string documents = VESKO_DOCUMENTS;
  for (std::size_t start = 0; start <= documents.size();) {
    std::size_t end = documents.find(':', start);
    if (end == std::string::npos) end = documents.size();
    for (const Command& command : consoleCommands(documents.substr(start, end - start))) {
      SCOPED_TRACE(command.document + ":" + std::to_string(command.line));
      EXPECT_EQ(run(scratch, command.text), command.output) << command.text;
      ++count;
    }
    start = end + 1;
  }
  EXPECT_GE(count, 5u);
  std::filesystem::remove_all(scratch);
}

}  // namespace
}  // namespace vesko_test
