// Saves that are killed or fail half-way: the file holds the old or the new
// content, never a part, and a failure is told. POSIX only; the saves run in
// forked children so that kills and file size limits hit only them.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "prefs/preferences_store.h"
#include "prefs_test_files.h"

namespace veska {
namespace {

namespace fs = std::filesystem;

// What the settings file's save does, with a short or a long path.
void SaveSettingsVersion(PreferencesStore& store, const std::string& file,
                         int version) {
  store.CreatePreferences(file);
  store.SelectGroup("Settings");
  store.WriteString("Path",
                    version == 0 ? "/p/a/" : "/packs/" + std::string(300, 'b'));
  store.WriteFloat("Volume", version == 0 ? 0.25 : 0.5);
  for (const char* key : {"PlayRAM", "PlayCPU", "PlayDisk", "RefreshTime",
                          "KeyboardMode", "KeyboardModifiers", "KeyboardKey"}) {
    store.WriteInteger(key, version);
  }
  store.ClosePreferences();
}

// The hidden files that saves leave beside their files.
std::set<std::string> Siblings(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with(".") && name.ends_with(".tmp")) names.insert(name);
  }
  return names;
}

// Runs `body` in a child; its exit code, or -1 when it did not exit.
int RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int code = body();
    std::fflush(nullptr);
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder in memory where there is one, so that a thousand saves with their
// flushes take seconds, not minutes; the temporary folder otherwise.
class MemoryFolder {
 public:
  explicit MemoryFolder(const fs::path& fallback) : path_(fallback) {
    std::string pattern = "/dev/shm/veska-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = owned_ = pattern;
  }
  ~MemoryFolder() {
    std::error_code ignored;
    if (!owned_.empty()) fs::remove_all(owned_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_, owned_;
};

using SaveFailureTest = PrefsFolderTest;

// Saves of two versions of `file`, alternating, in a child killed at random
// moments, a thousand times; `check` sees the file after each kill and the
// child's process number.
void KillSavesAtRandom(
    const std::string& file, std::string version[2],
    const std::function<void(int round, const std::string& now, pid_t pid)>&
        check) {
  PreferencesStore store;
  auto start = std::chrono::steady_clock::now();
  for (int v : {0, 1, 0, 1, 0, 1, 0, 1}) {
    SaveSettingsVersion(store, file, v);
    version[v] = testing::ReadFile(file);
  }
  auto save_time = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now() - start) /
                   8;
  ASSERT_NE(version[0].size(), version[1].size());

  std::random_device seed_source;
  unsigned seed = seed_source();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // From the start of the loop to a few saves into it.
  std::uniform_int_distribution<int64_t> delay_ns(0, 3 * save_time.count());
  for (int round = 0; round < 1000; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
      PreferencesStore child_store;
      if (write(ready[1], "r", 1) != 1) _exit(1);
      for (int v = 1;; v = 1 - v) SaveSettingsVersion(child_store, file, v);
    }
    close(ready[1]);
    char byte;
    bool started = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    if (started) {
      std::this_thread::sleep_for(std::chrono::nanoseconds(delay_ns(random)));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(started) << "round " << round << ": the saver did not start";
    check(round, testing::ReadFile(file), pid);
    if (::testing::Test::HasFatalFailure()) return;
  }
  std::printf("a save took %lld us\n",
              static_cast<long long>(save_time.count() / 1000));
}

TEST_F(SaveFailureTest, SaveKilledAtRandomLeavesTheOldOrTheNewWholeFile) {
  MemoryFolder memory(folder_);
  const fs::path folder = memory.path();
  const std::string file = (folder / "settings.ini").string();
  std::string version[2];
  int new_found = 0, cut_mid_save = 0;
  KillSavesAtRandom(
      file, version, [&](int round, const std::string& now, pid_t pid) {
        ASSERT_TRUE(now == version[0] || now == version[1])
            << "round " << round << ": " << now.size() << " bytes";
        new_found += now == version[1];
        const std::string own = ".settings.ini." + std::to_string(pid) + ".";
        for (const std::string& name : Siblings(folder)) {
          cut_mid_save += name.starts_with(own);
        }
      });
  std::printf("of 1000 kills %d found the new file, %d cut a save short\n",
              new_found, cut_mid_save);
  EXPECT_GT(cut_mid_save, 0) << "no kill came during a save";
  PreferencesStore store;
  SaveSettingsVersion(store, file, 0);
  EXPECT_EQ(Siblings(folder), std::set<std::string>())
      << "the next save removes what killed saves left";
}

// A file with a second name is written in place, as where no file can be
// made beside it. Killed between the write and the cut, a shorter version
// is followed by line ends up to the old length: blank lines, the same
// settings. Never old bytes after new ones, nor zeros.
TEST_F(SaveFailureTest, InPlaceSaveKilledAtRandomLeavesOldOrNewSettings) {
  MemoryFolder memory(folder_);
  const fs::path folder = memory.path();
  const std::string file = (folder / "settings.ini").string();
  {
    PreferencesStore store;
    SaveSettingsVersion(store, file, 0);
  }
  fs::create_hard_link(file, folder / "other-name.ini");
  std::string version[2];
  int padded = 0;
  KillSavesAtRandom(
      file, version, [&](int round, const std::string& now, pid_t) {
        const size_t shorter = std::min(version[0].size(), version[1].size());
        const std::string& short_one =
            version[0].size() == shorter ? version[0] : version[1];
        const bool blank_end =
            now.size() == std::max(version[0].size(), version[1].size()) &&
            now.starts_with(short_one) &&
            now.find_first_not_of('\n', shorter) == std::string::npos;
        ASSERT_TRUE(now == version[0] || now == version[1] || blank_end)
            << "round " << round << ": " << now.size() << " bytes, ending "
            << now.substr(now.size() - std::min<size_t>(now.size(), 12));
        padded += blank_end;
      });
  std::printf("of 1000 kills in place %d came between write and cut\n", padded);
  EXPECT_EQ(fs::hard_link_count(file), 2u) << "not written in place";
  EXPECT_EQ(Siblings(folder), std::set<std::string>());
}

TEST_F(SaveFailureTest, SaveRemovesOnlyWhatDeadProcessesLeft) {
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string live = std::to_string(getppid());
  const std::set<std::string> kept = {
      ".settings.ini." + live + ".3.tmp", ".settings.ini.x.3.tmp",
      ".settings.ini." + std::to_string(dead) + ".tmp",
      ".other.ini." + std::to_string(dead) + ".0.tmp"};
  for (const std::string& name : kept) Put(name, "x");
  Put(".settings.ini." + std::to_string(dead) + ".12.tmp", "x");
  PreferencesStore store;
  SaveSettingsVersion(store, PathOf("settings.ini"), 0);
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    if (entry.path().filename() != "settings.ini") {
      left.insert(entry.path().filename().string());
    }
  }
  EXPECT_EQ(left, kept);
}

// The start reads the settings and may never save: reading is enough to
// tidy up, with or without the file, and the file keeps its bytes.
TEST_F(SaveFailureTest, OpeningRemovesWhatDeadProcessesLeft) {
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string live_sibling =
      ".settings.ini." + std::to_string(getppid()) + ".0.tmp";
  for (bool file_there : {true, false}) {
    if (file_there) Put("settings.ini", "[Settings]\nPath=/p/\n");
    Put(live_sibling, "x");
    Put(".settings.ini." + std::to_string(dead) + ".4.tmp", "[Sett");
    PreferencesStore store;
    EXPECT_EQ(store.OpenPreferences(PathOf("settings.ini")) != 0, file_there);
    EXPECT_TRUE(store.ClosePreferences());
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      left.insert(entry.path().filename().string());
    }
    std::set<std::string> expected = {live_sibling};
    if (file_there) expected.insert("settings.ini");
    EXPECT_EQ(left, expected) << (file_there ? "with" : "without") << " a file";
    if (file_there) {
      EXPECT_EQ(Get("settings.ini"), "[Settings]\nPath=/p/\n");
      fs::remove(PathOf("settings.ini"));
    }
  }
}

TEST_F(SaveFailureTest, FailedWriteIsReportedOnceAndKeepsTheOldFile) {
  // Saves of the long version exceed the size limit and fail.
  const std::string old_content = "[Settings]\nPath=/old/\n";
  Put("settings.ini", old_content);
  Put("other.ini", old_content);
  fs::create_hard_link(PathOf("other.ini"), PathOf("other-link.ini"));
  std::string stderr_file = PathOf("stderr.txt");
  int code = RunInChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {200, 200};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    if (!std::freopen(stderr_file.c_str(), "w", stderr)) return 11;
    PreferencesStore store;
    auto fails = [&](const std::string& name, auto change) {
      change(store, PathOf(name));
      store.WriteString("Path", "/packs/" + std::string(300, 'b'));
      return !store.ClosePreferences();
    };
    auto create = [](PreferencesStore& s, const std::string& f) {
      s.CreatePreferences(f);
    };
    auto open = [](PreferencesStore& s, const std::string& f) {
      s.OpenPreferences(f);
    };
    if (!fails("settings.ini", create)) return 1;
    if (!fails("new.ini", create)) return 2;  // no file yet
    if (!fails("settings.ini", open)) return 3;
    if (!fails("other.ini", open)) return 4;            // saved in place
    if (!fails("missing.ini", open)) return 5;          // made at the close
    SaveSettingsVersion(store, PathOf("good.ini"), 0);  // fits: told again
    return fails("new.ini", create) ? 0 : 6;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Get("settings.ini"), old_content);
  EXPECT_EQ(Get("other-link.ini"), old_content);
  EXPECT_FALSE(fs::exists(PathOf("new.ini")) ||
               fs::exists(PathOf("missing.ini")));
  EXPECT_EQ(Siblings(folder_), std::set<std::string>());
  auto told = [&](const std::string& name) {
    return "VESKA: could not save " + PathOf(name) + ": File too large\n";
  };
  EXPECT_EQ(Get("stderr.txt"), told("settings.ini") + told("new.ini"));
}

}  // namespace
}  // namespace veska
