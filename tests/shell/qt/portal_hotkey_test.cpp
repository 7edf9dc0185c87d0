// The hotkey through the desktop portal, against a stand-in portal on a
// private session bus: real D-Bus messages both ways.
#include "shell/qt/portal_hotkey.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "temp_folder.h"

extern char** environ;

namespace veska {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr int32_t kVkF11 = 0x7A;
constexpr int kWaitMs = 5000;

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "portal_hotkey_test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) {
    new QCoreApplication(argc, argv);  // lives as long as the process
  }
}

// Runs the toolkit's events until `done` holds or `ms` pass.
bool SpinUntil(const std::function<bool()>& done, int ms = kWaitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void Spin(int ms) {
  SpinUntil([] { return false; }, ms);
}

// A child process that dies with the test, whatever way the test ends.
// Its standard output comes back through a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;

  // `argv[0]` is an absolute path. Everything is made before the fork: the
  // bus library runs a thread, so the child may not allocate.
  bool Start(const std::vector<std::string>& argv,
             const std::vector<std::string>& env = {}) {
    std::vector<std::string> strings = argv;
    std::vector<char*> args, vars;
    for (std::string& arg : strings) args.push_back(arg.data());
    args.push_back(nullptr);
    std::vector<std::string> extra = env;
    for (char** var = environ; *var != nullptr; ++var) vars.push_back(*var);
    for (std::string& var : extra) vars.push_back(var.data());
    vars.push_back(nullptr);
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      dup2(pipe_fds[1], 1);
      execve(args[0], args.data(), vars.data());
      _exit(127);
    }
    close(pipe_fds[1]);
    out = pipe_fds[0];
    return pid > 0;
  }

  // The first line it prints, within `ms`; empty when none came.
  std::string ReadLine(int ms = kWaitMs) {
    std::string line;
    QElapsedTimer clock;
    clock.start();
    char c = 0;
    while (clock.elapsed() < ms) {
      pollfd fd = {out, POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      if (read(out, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }

  void Kill() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
    if (out >= 0) close(out);
    out = -1;
  }
  ~Child() { Kill(); }
};

// Standard error goes to a file while this lives.
class CapturedStderr {
 public:
  explicit CapturedStderr(const fs::path& file) : file_(file) {
    fflush(stderr);
    saved_ = dup(2);
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
  }
  ~CapturedStderr() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }
  std::string Text() const {
    fflush(stderr);
    return testing::ReadFile(file_);
  }

 private:
  fs::path file_;
  int saved_ = -1;
};

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

class PortalHotkeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    const fs::path config = folder_.path() / "bus.conf";
    // No service folders: nothing but the stand-in can own the portal's
    // name, even where a real portal is installed.
    testing::WriteFile(config,
                       "<busconfig><type>session</type>"
                       "<listen>unix:dir=" +
                           folder_.path().string() +
                           "</listen><auth>EXTERNAL</auth>"
                           "<policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                           "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                           "</policy></busconfig>");
    if (access("/usr/bin/dbus-daemon", X_OK) != 0) {
      GTEST_SKIP() << "dbus-daemon is not installed";
    }
    ASSERT_TRUE(bus_daemon_.Start({"/usr/bin/dbus-daemon", "--nofork",
                                   "--print-address=1",
                                   "--config-file=" + config.string()}));
    address_ = bus_daemon_.ReadLine();
    ASSERT_FALSE(address_.empty()) << "the private bus did not start";
    name_ = "portal-test-" + std::to_string(++connections_);
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
        QString::fromStdString(address_), QString::fromStdString(name_)));
    ASSERT_TRUE(bus_->isConnected()) << "cannot reach the private bus";
    stderr_ = std::make_unique<CapturedStderr>(folder_.path() / "stderr");
  }

  void TearDown() override {
    hotkey_.reset();
    stderr_.reset();
    portal_.Kill();
    bus_.reset();
    if (!name_.empty()) {
      QDBusConnection::disconnectFromBus(QString::fromStdString(name_));
    }
    bus_daemon_.Kill();
  }

  void StartPortal() {
    ASSERT_TRUE(portal_.Start({VESKA_PORTAL_STANDIN},
                              {"DBUS_SESSION_BUS_ADDRESS=" + address_}));
    ASSERT_EQ(portal_.ReadLine(), "ready")
        << "the stand-in portal did not start";
  }

  PortalHotkey& Hotkey() {
    if (!hotkey_) hotkey_ = std::make_unique<PortalHotkey>(*bus_);
    return *hotkey_;
  }

  QDBusMessage Control(const QString& member, const QVariantList& args = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        "org.veska.test.Portal", member);
    call.setArguments(args);
    return bus_->call(call, QDBus::Block, kWaitMs);
  }

  std::string Errors() const { return stderr_->Text(); }

  // Presses counted while the toolkit runs for `ms`.
  int PressesWithin(int ms) {
    Spin(ms);
    return static_cast<int>(Hotkey().TakePresses().size());
  }

  testing::TempFolder folder_;
  Child bus_daemon_;
  Child portal_;
  std::string address_;
  std::string name_;
  std::unique_ptr<QDBusConnection> bus_;
  std::unique_ptr<CapturedStderr> stderr_;
  std::unique_ptr<PortalHotkey> hotkey_;
  static inline int connections_ = 0;
};

TEST(PortalTriggerTest, ModifiersThenTheKeysymName) {
  EXPECT_EQ(PortalTrigger(6, kVkF11), "CTRL+SHIFT+F11");
  EXPECT_EQ(PortalTrigger(1 | 8, 'A'), "ALT+LOGO+a");
  EXPECT_EQ(PortalTrigger(0, 0x20), "space");
  EXPECT_EQ(PortalTrigger(2, 0xFF), "");  // no key of that code
}

TEST_F(PortalHotkeyTest, HeldKeysRepeatLikeAKeyboardUntilReleased) {
  StartPortal();
  ASSERT_TRUE(Hotkey().Bind(6, kVkF11));
  ASSERT_TRUE(SpinUntil([&] { return Hotkey().Bound(); }))
      << "the binding was never confirmed";
  EXPECT_EQ(Control("Trigger").arguments().value(0).toString(),
            "CTRL+SHIFT+F11");

  Control("Press");
  ASSERT_TRUE(SpinUntil([&] { return Hotkey().Held(); }));
  std::vector<bool> presses = Hotkey().TakePresses();
  EXPECT_EQ(presses, std::vector<bool>{false}) << "a new press";
  // Held: the repeats keep "Push To Play" playing, as auto-repeat does, and
  // say that they are repeats, so that "Normal Toggle" ignores them.
  ASSERT_TRUE(SpinUntil([&] {
    const std::vector<bool> more = Hotkey().TakePresses();
    presses.insert(presses.end(), more.begin(), more.end());
    return presses.size() >= 4;
  })) << "no repeats while the keys were held";
  EXPECT_EQ(std::count(presses.begin(), presses.end(), true),
            static_cast<long>(presses.size()) - 1);

  Control("Release");
  ASSERT_TRUE(SpinUntil([&] { return !Hotkey().Held(); }));
  Hotkey().TakePresses();
  EXPECT_EQ(PressesWithin(4 * PortalHotkey::kRepeatIntervalMs), 0);

  // A second press after the release counts again.
  Control("Press");
  Control("Release");
  ASSERT_TRUE(SpinUntil(
      [&] { return Hotkey().TakePresses() == std::vector<bool>{false}; }));
  EXPECT_EQ(Errors(), "");
}

TEST_F(PortalHotkeyTest, RefusedBindingIsToldOnceAndGivesNoPresses) {
  StartPortal();
  Control("SetBindAnswer", {1u});  // the user said no
  ASSERT_TRUE(Hotkey().Bind(6, kVkF11));
  ASSERT_TRUE(SpinUntil([&] { return !Errors().empty(); }))
      << "the refusal was not told";
  EXPECT_THAT(Errors(), HasSubstr("CTRL+SHIFT+F11 does not work"));
  EXPECT_FALSE(Hotkey().Bound());
  Control("Press");
  EXPECT_EQ(PressesWithin(200), 0);
  EXPECT_FALSE(Hotkey().Held());
  // Asked again, still refused: still one line.
  ASSERT_TRUE(Hotkey().Bind(6, kVkF11));
  Spin(200);
  EXPECT_EQ(Count(Errors(), "\n"), 1) << Errors();
}

TEST_F(PortalHotkeyTest, WithoutAPortalTheKeyCountsAsTaken) {
  EXPECT_FALSE(Hotkey().Bind(6, kVkF11));
  EXPECT_FALSE(Hotkey().Bind(6, kVkF11));
  EXPECT_EQ(Count(Errors(), "\n"), 1) << Errors();
  EXPECT_THAT(Errors(), HasSubstr("no global shortcuts"));
  EXPECT_FALSE(Hotkey().Bind(6, 0xFF));  // nor a key without a name
  EXPECT_EQ(Count(Errors(), "\n"), 1) << Errors();
}

TEST_F(PortalHotkeyTest, APortalThatGoesAwayWhileHeldEndsTheHold) {
  StartPortal();
  ASSERT_TRUE(Hotkey().Bind(2, 'Q'));
  ASSERT_TRUE(SpinUntil([&] { return Hotkey().Bound(); }));
  Control("Press");
  ASSERT_TRUE(SpinUntil([&] { return Hotkey().Held(); }));

  portal_.Kill();
  ASSERT_TRUE(SpinUntil([&] { return !Hotkey().Held(); }))
      << "still held after the portal went away";
  EXPECT_FALSE(Hotkey().Bound());
  Hotkey().TakePresses();
  EXPECT_EQ(PressesWithin(4 * PortalHotkey::kRepeatIntervalMs), 0);
  EXPECT_EQ(Count(Errors(), "\n"), 1) << Errors();
  EXPECT_THAT(Errors(), HasSubstr("CTRL+q does not work: the desktop portal "
                                  "went away"));
}

TEST_F(PortalHotkeyTest, ASessionClosedByTheDesktopEndsTheBinding) {
  StartPortal();
  ASSERT_TRUE(Hotkey().Bind(6, kVkF11));
  ASSERT_TRUE(SpinUntil([&] { return Hotkey().Bound(); }));
  Control("CloseSession");
  ASSERT_TRUE(SpinUntil([&] { return !Hotkey().Bound(); }));
  Control("Press");
  EXPECT_EQ(PressesWithin(200), 0);
  EXPECT_THAT(Errors(), HasSubstr("closed"));
}

}  // namespace
}  // namespace veska
