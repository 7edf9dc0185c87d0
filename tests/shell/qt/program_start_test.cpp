#include "shell/qt/program_start.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "scoped_env.h"
#include "temp_folder.h"

namespace veska {
namespace {

namespace fs = std::filesystem;

// Writes each argument it gets (with absolute tool paths, as tests narrow
// PATH), its own path first, one per line, to the file named by
// VESKA_PROBE_OUT; the file appears whole or not at all.
constexpr const char* kProbeScript =
    "#!/bin/sh\n"
    "printf '%s\\n' \"$0\" \"$@\" > \"$VESKA_PROBE_OUT.tmp\"\n"
    "/bin/mv \"$VESKA_PROBE_OUT.tmp\" \"$VESKA_PROBE_OUT\"\n";

// Stands in for the elevation helper: records its arguments (the file
// appears whole or not at all), then runs the program it was given with the
// rest of them.
constexpr const char* kFakePkexec =
    "#!/bin/sh\n"
    "printf '%s\\n' \"$@\" > \"$VESKA_PROBE_OUT.pkexec.tmp\"\n"
    "/bin/mv \"$VESKA_PROBE_OUT.pkexec.tmp\" \"$VESKA_PROBE_OUT.pkexec\"\n"
    "exec \"$@\"\n";

// Writes "open" or "closed": whether its descriptor number $1 is open.
constexpr const char* kDescriptorProbeScript =
    "#!/bin/sh\n"
    "if [ -e \"/proc/$$/fd/$1\" ]; then r=open; else r=closed; fi\n"
    "printf '%s\\n' \"$r\" > \"$VESKA_PROBE_OUT.tmp\"\n"
    "/bin/mv \"$VESKA_PROBE_OUT.tmp\" \"$VESKA_PROBE_OUT\"\n";

// Stands in for an elevation helper that asks on behalf of the process that
// started it: once the test lets it go on (or after 30 s), records its
// parent and that parent's program.
constexpr const char* kParentRecordingPkexec =
    "#!/bin/sh\n"
    "i=0\n"
    "while [ ! -e \"$VESKA_PROBE_OUT.go\" ] && [ $i -lt 600 ]; do\n"
    "  /bin/sleep 0.05; i=$((i + 1))\n"
    "done\n"
    "{ printf '%s\\n' \"$PPID\"; /bin/readlink \"/proc/$PPID/exe\"; }"
    " > \"$VESKA_PROBE_OUT.parent.tmp\"\n"
    "/bin/mv \"$VESKA_PROBE_OUT.parent.tmp\" \"$VESKA_PROBE_OUT.parent\"\n"
    "exec \"$@\"\n";

class ProgramStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "bin");
    fs::create_directories(dir_ / "other");
  }

  std::string MakeFile(const fs::path& path, const std::string& text,
                       bool executable) {
    testing::WriteFile(path, text);
    fs::permissions(path, executable
                              ? fs::perms::owner_all
                              : fs::perms::owner_read | fs::perms::owner_write);
    return path.string();
  }

  // The lines the probe wrote, once it has run; empty after 20 seconds.
  std::vector<std::string> WaitForOutput(const std::string& file) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(file) && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Children of this process that ended and were never reaped.
  static int ZombieChildren() {
    int zombies = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    while (dirent* entry = readdir(proc)) {
      std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
      std::string text;
      if (!std::getline(stat, text)) continue;
      const size_t close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream fields(text.substr(close + 2));
      char state = 0;
      pid_t parent = 0;
      fields >> state >> parent;
      if (parent == getpid() && state == 'Z') ++zombies;
    }
    closedir(proc);
    return zombies;
  }

  testing::TempFolder temp_;
  fs::path dir_ = temp_.path();
  std::string out_ = (dir_ / "out").string();
  testing::ScopedEnv probe_out_{"VESKA_PROBE_OUT", out_.c_str()};
  testing::ScopedEnv path_{"PATH", std::getenv("PATH")};  // tests narrow it
};

TEST_F(ProgramStartTest, FindProgramTakesTheFirstFolderHoldingAnExecutable) {
  const fs::path bin = dir_ / "bin";
  const fs::path other = dir_ / "other";
  MakeFile(other / "tool", kProbeScript, true);
  EXPECT_EQ(FindProgram("tool", {bin.string(), other.string()}),
            (other / "tool").string());
  MakeFile(bin / "tool", kProbeScript, true);
  EXPECT_EQ(FindProgram("tool", {bin.string() + "/", other.string()}),
            (bin / "tool").string());

  // Not executable, or a folder of that name: passed over.
  MakeFile(bin / "plain", "data", false);
  MakeFile(other / "plain", kProbeScript, true);
  EXPECT_EQ(FindProgram("plain", {bin.string(), other.string()}),
            (other / "plain").string());
  fs::create_directories(bin / "folder");
  EXPECT_EQ(FindProgram("folder", {bin.string()}), "");

  EXPECT_EQ(FindProgram("absent", {bin.string(), other.string(), ""}), "");
  EXPECT_EQ(FindProgram("", {bin.string()}), "");

  // A name holding a slash is a path of its own, never searched for.
  EXPECT_EQ(FindProgram((bin / "." / "tool").string(), {}),
            (bin / "tool").string());
  EXPECT_EQ(FindProgram("bin/tool", {dir_.string()}), "");
}

TEST_F(ProgramStartTest, SearchGoesOwnFolderThenAbsolutePathEntriesOnly) {
  setenv("PATH", "/first::/second:.:relative/bin:/third/", 1);
  const std::vector<std::string> folders = ProgramSearchFolders();
  EXPECT_EQ(folders,
            (std::vector<std::string>{
                fs::read_symlink("/proc/self/exe").parent_path().string(),
                "/first", "/second", "/third/"}));
  unsetenv("PATH");
  EXPECT_EQ(ProgramSearchFolders().size(), 1u);
}

// Files planted in the working folder, where the program runs and keeps its
// settings, are never run, and never given administrator rights.
TEST_F(ProgramStartTest, PlantedProgramsInTheWorkingFolderAreNeverRun) {
  const fs::path work = dir_ / "work";
  fs::create_directories(work);
  MakeFile(work / "perfmend.exe", kProbeScript, true);
  MakeFile(work / "pkexec", kFakePkexec, true);
  testing::ScopedWorkingFolder in_work(work);
  // Every way PATH can name the working folder.
  setenv("PATH", ":.:./:work", 1);

  EXPECT_EQ(FindProgram("perfmend.exe", {".", "", "work"}), "");
  EXPECT_FALSE(StartElevated("perfmend.exe", ""));
  EXPECT_FALSE(fs::exists(out_));

  // With the real helper on PATH, it runs, but not through the planted
  // elevation helper.
  const std::string tool =
      MakeFile(dir_ / "bin" / "perfmend.exe", kProbeScript, true);
  setenv("PATH", (":.:" + (dir_ / "bin").string()).c_str(), 1);
  ASSERT_TRUE(StartElevated("perfmend.exe", ""));
  EXPECT_EQ(WaitForOutput(out_), std::vector<std::string>{tool});
  EXPECT_FALSE(fs::exists(out_ + ".pkexec"));
}

TEST_F(ProgramStartTest,
       StartDetachedPassesArgumentsVerbatimAndLeavesNoZombie) {
  const std::string tool = MakeFile(dir_ / "bin" / "tool", kProbeScript, true);
  const std::string tricky = "two words; echo $HOME `id` > /tmp/x '\"";
  ASSERT_TRUE(StartDetached({tool, tricky, ""}));
  const std::vector<std::string> lines = WaitForOutput(out_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], tool);
  EXPECT_EQ(lines[1], tricky);
  EXPECT_EQ(lines[2], "");

  EXPECT_FALSE(StartDetached({}));
  EXPECT_FALSE(StartDetached({(dir_ / "bin" / "absent").string()}));
  EXPECT_FALSE(StartDetached({MakeFile(dir_ / "data", "x", false)}));
  EXPECT_EQ(ZombieChildren(), 0);
}

// A display or sound connection left open in the program would outlive us.
TEST_F(ProgramStartTest, StartedProgramHoldsNoneOfOurOpenFiles) {
  const std::string tool =
      MakeFile(dir_ / "bin" / "fd-probe", kDescriptorProbeScript, true);
  const int inheritable = open("/dev/null", O_RDONLY);  // no close-on-exec
  ASSERT_GE(inheritable, 0);
  ASSERT_TRUE(StartDetached({tool, std::to_string(inheritable)}));
  EXPECT_EQ(WaitForOutput(out_), std::vector<std::string>{"closed"});
  close(inheritable);
}

TEST_F(ProgramStartTest, ElevatedStartFindsTheProgramOnPathAndRunsItDirectly) {
  const std::string tool =
      MakeFile(dir_ / "bin" / "perfmend.exe", kProbeScript, true);
  setenv("PATH", (dir_ / "bin").c_str(), 1);
  ASSERT_TRUE(StartElevated("perfmend.exe", ""));
  const std::vector<std::string> lines = WaitForOutput(out_);
  ASSERT_EQ(lines.size(), 1u);  // no empty argument for empty parameters
  EXPECT_EQ(lines[0], tool);
}

TEST_F(ProgramStartTest, ElevatedStartGoesThroughPkexecWhenItIsOnPath) {
  const std::string tool =
      MakeFile(dir_ / "other" / "fixer", kProbeScript, true);
  MakeFile(dir_ / "bin" / "pkexec", kFakePkexec, true);
  setenv("PATH",
         ((dir_ / "bin").string() + ":" + (dir_ / "other").string()).c_str(),
         1);
  ASSERT_TRUE(StartElevated("fixer", "--all disks"));
  const std::vector<std::string> helper = WaitForOutput(out_ + ".pkexec");
  ASSERT_EQ(helper.size(), 2u);
  EXPECT_EQ(helper[0], tool);  // an absolute path, as the helper requires
  EXPECT_EQ(helper[1], "--all disks");
  const std::vector<std::string> lines = WaitForOutput(out_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "--all disks");
  EXPECT_EQ(ZombieChildren(), 0);
}

// The helper refuses an orphan and would ask for the wrong process, so its
// parent must be ours and outlive this call; yet nothing here waits for it.
TEST_F(ProgramStartTest, ElevationHelperKeepsAParentFromThisProgram) {
  MakeFile(dir_ / "other" / "fixer", kProbeScript, true);
  MakeFile(dir_ / "bin" / "pkexec", kParentRecordingPkexec, true);
  setenv("PATH",
         ((dir_ / "bin").string() + ":" + (dir_ / "other").string()).c_str(),
         1);
  // The helper waits for the test: a start that waited for it would come
  // back only after it had recorded its parent.
  ASSERT_TRUE(StartElevated("fixer", ""));
  EXPECT_FALSE(fs::exists(out_ + ".parent")) << "the start waited for it";
  testing::WriteFile(out_ + ".go", "");
  const std::vector<std::string> parent = WaitForOutput(out_ + ".parent");
  ASSERT_EQ(parent.size(), 2u);
  EXPECT_NE(parent[0], "1");
  EXPECT_NE(parent[0], std::to_string(getpid()));
  EXPECT_EQ(parent[1], fs::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(WaitForOutput(out_).size(), 1u);
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(ProgramStartTest, ElevatedStartOfAnUnknownProgramDoesNothing) {
  setenv("PATH", (dir_ / "bin").c_str(), 1);
  EXPECT_FALSE(StartElevated("no-such-program-here", ""));
  EXPECT_FALSE(StartElevated("", ""));
  // A name is never handed to a shell.
  EXPECT_FALSE(StartElevated("true; touch " + out_, ""));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(fs::exists(out_));
}

}  // namespace
}  // namespace veska
