// The history file: what is kept, and files that are no history.
#include "host/cli/line_editor_history.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

namespace vesko_test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class HistoryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vesko-history-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    path_ = (folder_ / ".vesko_calc_history").string();
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_;
  std::string path_;
};

TEST_F(HistoryFileTest, KeepsTheNewestLinesAndCutsTheFileDown) {
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 3), Lines{});
  std::string error;
  for (const char* line : {"1", "", "2 + 2", "Upper(\"x\")"})
    ASSERT_TRUE(vesko_host::appendHistoryFile(path_, line, &error)) << error;
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 10), (Lines{"1", "", "2 + 2", "Upper(\"x\")"}));
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 2), (Lines{"2 + 2", "Upper(\"x\")"}));
  EXPECT_EQ(fs::file_size(path_), std::string("2 + 2\nUpper(\"x\")\n").size());
  EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(HistoryFileTest, AnEntryOfSeveralLinesIsOneLineOfTheFile) {
  std::string error;
  ASSERT_TRUE(vesko_host::appendHistoryFile(path_, "(1 +\n2)", &error)) << error;
  ASSERT_TRUE(vesko_host::appendHistoryFile(path_, "x = '\\n'", &error)) << error;
  ASSERT_TRUE(vesko_host::appendHistoryFile(path_, "last", &error)) << error;
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 10), (Lines{"(1 +\n2)", "x = '\\n'", "last"}));
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 2), (Lines{"x = '\\n'", "last"}));
  // Cut down to the newest, the entries keep their lines.
  ASSERT_TRUE(vesko_host::appendHistoryFile(path_, "a\nb", &error)) << error;
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 2), (Lines{"last", "a\nb"}));
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 5), (Lines{"last", "a\nb"}));
}

TEST_F(HistoryFileTest, PipesAndDevicesAreNoHistory) {
  // A named pipe: reading waited for a writer and appending for a reader,
  // for ever, before vesko-calc showed its prompt.
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  auto read = std::async(std::launch::async, [&] { return vesko_host::readHistoryFile(path_, 5); });
  if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    close(open(path_.c_str(), O_WRONLY | O_NONBLOCK));
    FAIL() << "reading the history blocked on a named pipe";
  }
  EXPECT_EQ(read.get(), Lines{});
  std::string error;
  auto append = std::async(std::launch::async,
                           [&] { return vesko_host::appendHistoryFile(path_, "1", &error); });
  if (append.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    close(open(path_.c_str(), O_RDONLY | O_NONBLOCK));
    FAIL() << "appending to the history blocked on a named pipe";
  }
  EXPECT_FALSE(append.get());
  EXPECT_FALSE(error.empty());

  // A device behind a link: /dev/zero is one endless line.
  fs::remove(path_);
  fs::create_symlink("/dev/zero", path_);
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 5), Lines{});
  EXPECT_FALSE(vesko_host::appendHistoryFile(path_, "1", &error));
  EXPECT_EQ(error, "not a regular file");
}

TEST_F(HistoryFileTest, AHugeFileIsReadFromItsEnd) {
  {
    std::ofstream file(path_);
    const std::string filler(1000, 'x');
    for (int i = 0; i < 6000; ++i) file << filler << '\n';
    file << "last but one\nlast\n";
  }
  EXPECT_EQ(vesko_host::readHistoryFile(path_, 2), (Lines{"last but one", "last"}));
}

}  // namespace
}  // namespace vesko_test
