// How saves meet the file system: permissions, links and interruption.
// POSIX only; children are forked so that permissions and kills can apply.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "prefs/preferences_store.h"
#include "prefs_test_files.h"

namespace veska {
namespace {

namespace fs = std::filesystem;

constexpr int kNoUnprivilegedChild = 77;

// Runs `body` in a child that file permission bits apply to (root drops to
// the "nobody" ids); gives its exit code.
int RunUnprivileged(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(kNoUnprivilegedChild);
    }
    // The test folder must stay reachable for the lesser ids.
    if (access(fs::temp_directory_path().c_str(), X_OK) != 0) {
      _exit(kNoUnprivilegedChild);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class FileSafetyTest : public PrefsFolderTest {
 protected:
  void SetUp() override {
    PrefsFolderTest::SetUp();
    fs::permissions(folder_, fs::perms(0755));
  }
};

TEST_F(FileSafetyTest, FileOpenOnlyForReadingIsReadAndKeepsItsContent) {
  Put("ro.ini", "[G]\nk=5\n");
  fs::permissions(PathOf("ro.ini"), fs::perms(0444));
  int code = RunUnprivileged([&] {
    if (access(PathOf("ro.ini").c_str(), W_OK) == 0) {
      return kNoUnprivilegedChild;
    }
    PreferencesStore store;
    if (store.OpenPreferences(PathOf("ro.ini")) == 0) return 1;
    if (!store.SelectGroup("g") || store.ReadInteger("K", 0) != 5) return 2;
    store.WriteInteger("k", 6);
    return store.ReadInteger("k", 0) == 6 ? 0 : 3;
  });
  if (code == kNoUnprivilegedChild) {
    GTEST_SKIP() << "no child process that file permissions apply to";
  }
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Get("ro.ini"), "[G]\nk=5\n") << "changes must be dropped";
}

TEST_F(FileSafetyTest, FileInAFolderClosedToNewFilesIsSavedInPlace) {
  Put("s.ini", "k=1\n");
  fs::permissions(PathOf("s.ini"), fs::perms(0666));
  int code = RunUnprivileged([&] {
    if (access(folder_.c_str(), W_OK) == 0) return kNoUnprivilegedChild;
    PreferencesStore store;
    if (store.OpenPreferences(PathOf("s.ini")) == 0) return 1;
    store.WriteInteger("k", 2);
    if (!store.ClosePreferences()) return 2;
    // The same for a create; a file not there yet cannot be created.
    if (store.CreatePreferences(PathOf("s.ini")) == 0) return 3;
    store.WriteInteger("k", 3);
    if (!store.ClosePreferences()) return 4;
    return store.CreatePreferences(PathOf("new.ini")) == 0 ? 0 : 5;
  });
  if (code == kNoUnprivilegedChild) {
    GTEST_SKIP() << "no child process that file permissions apply to";
  }
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Get("s.ini"), "\xEF\xBB\xBF\r\nk = 3\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 1);
}

TEST_F(FileSafetyTest, SaveKeepsModeAndSymbolicLink) {
  Put("real.ini", "k=1\n");
  fs::permissions(PathOf("real.ini"), fs::perms(0640));
  fs::create_symlink("real.ini", PathOf("link.ini"));
  // Root saves another user's file, which stays theirs.
  bool as_root = geteuid() == 0 && chown(PathOf("real.ini").c_str(), 1, 1) == 0;
  {
    PreferencesStore store;
    ASSERT_NE(store.OpenPreferences(PathOf("link.ini")), 0u);
    store.WriteInteger("k", 2);
    ASSERT_TRUE(store.ClosePreferences());
    ASSERT_NE(store.CreatePreferences(PathOf("link.ini")), 0u);
    store.WriteInteger("k", 3);
  }
  EXPECT_TRUE(fs::is_symlink(PathOf("link.ini")));
  EXPECT_EQ(Get("real.ini"), "\xEF\xBB\xBF\r\nk = 3\r\n");
  EXPECT_EQ(fs::status(PathOf("real.ini")).permissions(), fs::perms(0640));
  struct stat info;
  ASSERT_EQ(stat(PathOf("real.ini").c_str(), &info), 0);
  if (as_root) {
    EXPECT_EQ(info.st_uid * 10 + info.st_gid, 11u);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 2);
  // A file with two names is saved in place, so both names keep it.
  fs::create_hard_link(PathOf("real.ini"), PathOf("hard.ini"));
  {
    PreferencesStore store;
    ASSERT_NE(store.CreatePreferences(PathOf("hard.ini")), 0u);
    store.WriteInteger("k", 4);
  }
  EXPECT_EQ(Get("real.ini"), "\xEF\xBB\xBF\r\nk = 4\r\n");
}

// A few megabytes, so that a save takes long enough to be cut.
std::string BigFileContent(char fill, size_t value_length) {
  std::string text = "\xEF\xBB\xBF\r\n[Big]\r\n";
  for (int i = 0; i < 2000; ++i) {
    text += "key" + std::to_string(i) + " = " + std::string(value_length, fill);
    text += "\r\n";
  }
  return text;
}

TEST_F(FileSafetyTest, SaveKilledHalfWayLeavesTheOldOrTheNewFile) {
  std::random_device seed_source;
  unsigned seed = seed_source();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::string old_content = BigFileContent('a', 2000);
  Put("big.ini", old_content);
  std::chrono::microseconds save_time{0};
  for (int round = 0; round < 12; ++round) {
    // Lengths differ from round to round, so a cut in-place write would
    // leave a mixture or a stale tail.
    std::string new_content =
        BigFileContent(static_cast<char>('b' + round), 1000 + 300 * round);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
      PreferencesStore store;
      store.OpenPreferences(PathOf("big.ini"));
      store.SelectGroup("Big");
      std::string value(1000 + 300 * round, static_cast<char>('b' + round));
      for (int i = 0; i < 2000; ++i) {
        store.WriteString("key" + std::to_string(i), value);
      }
      if (write(ready[1], "s", 1) != 1) _exit(1);
      store.ClosePreferences();
      _exit(0);
    }
    close(ready[1]);
    char signal_byte;
    ASSERT_EQ(read(ready[0], &signal_byte, 1), 1);
    close(ready[0]);
    auto start = std::chrono::steady_clock::now();
    if (round > 0) {
      // The first round runs to the end and times the save.
      std::this_thread::sleep_for(
          std::chrono::microseconds(std::uniform_int_distribution<int64_t>(
              0, save_time.count())(random)));
      kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (round == 0) {
      save_time = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - start);
    }
    std::string now = Get("big.ini");
    ASSERT_TRUE(now == old_content || now == new_content)
        << "round " << round << ": " << now.size() << " bytes";
    old_content = now;
  }
}

}  // namespace
}  // namespace veska
