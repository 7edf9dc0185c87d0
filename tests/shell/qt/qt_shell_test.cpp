#include "shell/qt/qt_shell.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

// Xlib last: its macros (KeyPress, None, ...) clash with the toolkit's names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "scoped_env.h"
#include "temp_folder.h"
#include "virtual_display.h"

namespace veska {
namespace {

// One display for every test here, however many there are.
::testing::Environment* const display_environment =
    ::testing::AddGlobalTestEnvironment(new VirtualDisplayEnvironment);

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ScopedEnv;

constexpr int32_t kVkF5 = 0x74;
constexpr int32_t kVkF11 = 0x7A;

TEST(QtShellWithoutDisplayTest, NoUsableDisplayGivesNullAndAMessage) {
  const bool had_application = QCoreApplication::instance() != nullptr;
  {
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    std::string error;
    EXPECT_EQ(QtShell::Create(&error), nullptr);
    EXPECT_THAT(error, HasSubstr("desktop session"));
    EXPECT_EQ(QtShell::Create(nullptr), nullptr);
  }
  {
    ScopedEnv display("DISPLAY", ":4093");  // no server there
    ScopedEnv wayland("WAYLAND_DISPLAY", "veska-no-such-compositor");
    ScopedEnv runtime("XDG_RUNTIME_DIR", ::testing::TempDir().c_str());
    std::string error;
    EXPECT_EQ(QtShell::Create(&error), nullptr);
    EXPECT_FALSE(error.empty());
  }
  if (!had_application) {
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
  }
}

// Writes a 2 x 2 opaque 32-bit BMP and returns its path.
std::string WriteIcon() {
  static const testing::TempFolder folder;  // goes when the program ends
  const fs::path path = folder.path() / "icon.bmp";
  std::vector<uint8_t> bytes(54 + 16, 0xFF);
  const uint8_t header[54] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0,  0, 54, 0, 0,
                              0,   40,  0,  0, 0, 2, 0, 0, 0,  2, 0,  0, 0,
                              1,   0,   32, 0, 0, 0, 0, 0, 16, 0, 0,  0};
  std::copy(std::begin(header), std::end(header), bytes.begin());
  testing::WriteFile(path, bytes);
  return path.string();
}

QMenu* FindPopupMenu() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == kPopupMenuObjectName) {
      return qobject_cast<QMenu*>(widget);
    }
  }
  return nullptr;
}

QSystemTrayIcon* FindTrayIcon(int32_t id) {
  return qApp->findChild<QSystemTrayIcon*>(
      QString::fromLatin1(kTrayIconObjectNamePrefix) + QString::number(id));
}

QStringList Texts(const QMenu* menu) {
  QStringList texts;
  for (const QAction* action : menu->actions()) texts << action->text();
  return texts;
}

QAction* ActionNamed(const QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// Calls `step` on a timer inside the modal loop that the code under test
// runs, until it returns true. Gives up after ten seconds, closing whatever
// is open so that the test ends instead of hanging.
void DriveModal(std::function<bool()> step) {
  auto* timer = new QTimer;
  auto ticks = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, step, ticks]() {
    bool done = step();
    if (!done && ++*ticks > 500) {
      ADD_FAILURE() << "the modal window never reached the expected state";
      if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      done = true;
    }
    if (done) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(20);
}

template <typename T>
T* ActiveModal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

// Whether the display repeats held keys. Off but where a test holds keys:
// a release that a busy machine delivers late would otherwise make one
// press two.
void SetKeyRepeat(bool on) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  XKeyboardControl control{};
  control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
  XChangeKeyboardControl(display, KBAutoRepeatMode, &control);
  XCloseDisplay(display);  // after the server has taken the change
}

class QtShellTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetKeyRepeat(false);
    // The toolkit takes the locale from the environment; ours must survive.
    setenv("LC_ALL", "C.UTF-8", 1);
    locale_before_ = std::setlocale(LC_ALL, nullptr);
    shell_ = QtShell::Create(&shell_error_).release();
  }
  static void TearDownTestSuite() {
    delete shell_;
    shell_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(shell_, nullptr)
        << "no shell on the virtual display " << std::getenv("DISPLAY") << ": "
        << shell_error_;
    while (shell_->WaitEvent(0) != kEventTimeout) {
    }
  }

  static void RequireXdotool() {
    if (!ToolExists("xdotool")) {
      GTEST_SKIP() << "xdotool is not installed; no keys can be sent";
    }
  }

  // The first event, or 0 when none comes within the limit, which only a
  // failing test ever waits for.
  static int32_t NextEvent(int within_ms = 10000) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms);
    while (std::chrono::steady_clock::now() < end) {
      const int32_t code = shell_->WaitEvent(20);
      if (code != kEventTimeout) return code;
    }
    return kEventTimeout;
  }

  static int CountEvents(int32_t code, int during_ms) {
    int count = 0;
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(during_ms);
    while (std::chrono::steady_clock::now() < end) {
      if (shell_->WaitEvent(20) == code) ++count;
    }
    return count;
  }

  // Events of `code` until `count` of them came or the limit passed.
  static int EventsUntil(int32_t code, int count, int within_ms = 10000) {
    int seen = 0;
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms);
    while (seen < count && std::chrono::steady_clock::now() < end) {
      if (shell_->WaitEvent(20) == code) ++seen;
    }
    return seen;
  }

  // Takes every event that has already arrived or is on its way.
  static void Drain() {
    while (shell_->WaitEvent(100) != kEventTimeout) {
    }
  }

  // xdotool's own end waits for the server to have taken its keys.
  static void Xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    const ChildResult run = RunTool(argv);
    ASSERT_EQ(run.exit_code, 0) << run.why;
  }
  static void Keys(const std::string& keys) { Xdotool({"key", keys}); }

  static inline QtShell* shell_ = nullptr;
  static inline std::string shell_error_;
  static inline std::string locale_before_;
};

uint32_t SteadyMs() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

TEST_F(QtShellTest, WaitEventTimesOutWithZeroAndTheClockIsSteady) {
  EXPECT_EQ(shell_->WaitEvent(30), kEventTimeout);
  EXPECT_EQ(shell_->WaitEvent(0), kEventTimeout);
  // Bracketed by the steady clock, whatever the scheduler does between the
  // calls; unsigned differences are right across the 32-bit wrap too.
  const uint32_t before = SteadyMs();
  const uint32_t elapsed = shell_->ElapsedMs();
  const uint32_t after = SteadyMs();
  EXPECT_LE(elapsed - before, after - before);
}

TEST_F(QtShellTest, LocaleSurvivesTheToolkitAndASecondShellIsRefused) {
  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), locale_before_);
  char text[16];
  std::snprintf(text, sizeof(text), "%.1f", 0.5);
  EXPECT_STREQ(text, "0.5");

  std::string error;
  EXPECT_EQ(QtShell::Create(&error), nullptr) << "one shell per process";
  EXPECT_FALSE(error.empty());
}

TEST_F(QtShellTest, HotkeyArrivesWhateverTheLockKeys) {
  RequireXdotool();
  ASSERT_TRUE(shell_->RegisterGlobalHotkey(kModControl | kModShift, kVkF11));
  Keys("ctrl+shift+F11");
  EXPECT_EQ(NextEvent(), kEventHotkey);
  EXPECT_EQ(shell_->EventParam(), 0);

  for (const char* lock : {"Num_Lock", "Caps_Lock"}) {
    Keys(lock);
    Keys("ctrl+shift+F11");
    EXPECT_EQ(NextEvent(), kEventHotkey) << "with " << lock;
    Keys(lock);
  }
  Keys("Num_Lock");
  Keys("Caps_Lock");
  Keys("ctrl+shift+F11");
  EXPECT_EQ(NextEvent(), kEventHotkey) << "with both locks";
  Keys("Num_Lock");
  Keys("Caps_Lock");
}

TEST_F(QtShellTest, OtherModifiersOrKeysAreNotTheHotkey) {
  RequireXdotool();
  ASSERT_TRUE(shell_->RegisterGlobalHotkey(kModControl | kModShift, kVkF11));
  Keys("F11");
  Keys("ctrl+F11");
  Keys("ctrl+shift+F10");
  Keys("ctrl+shift+alt+F11");
  // The server delivers in order: a wrong press would come before this one.
  Keys("ctrl+shift+F11");
  EXPECT_EQ(NextEvent(), kEventHotkey);
  EXPECT_EQ(CountEvents(kEventHotkey, 300), 0);

  // Keys without an X key are refused.
  EXPECT_FALSE(shell_->RegisterGlobalHotkey(kModControl, 0x10));  // VK_SHIFT
  EXPECT_FALSE(shell_->RegisterGlobalHotkey(kModControl, 0x1234));
}

TEST_F(QtShellTest, EventsComeOnePerCallInTheOrderTheyArrived) {
  RequireXdotool();
  ASSERT_TRUE(shell_->RegisterGlobalHotkey(kModControl | kModShift, kVkF11));
  ASSERT_TRUE(shell_->AddTrayIcon(7, shell_->LoadImage(WriteIcon())));
  emit FindTrayIcon(7)->activated(QSystemTrayIcon::Trigger);
  Xdotool({"key", "ctrl+shift+F11", "ctrl+shift+F11", "ctrl+shift+F11"});
  std::vector<int32_t> codes;
  for (int i = 0; i < 4; ++i) {
    codes.push_back(NextEvent());
    EXPECT_FALSE(shell_->EventIsRepeat()) << "three presses, none held";
  }
  EXPECT_THAT(
      codes, ElementsAre(kEventTray, kEventHotkey, kEventHotkey, kEventHotkey));
  EXPECT_EQ(shell_->WaitEvent(0), kEventTimeout);
  shell_->RemoveTrayIcon(7);
}

// True once the server holds `keysym`'s key up, or false after ten seconds.
bool KeyIsUp(KeySym keysym) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  const KeyCode code = XKeysymToKeycode(display, keysym);
  bool up = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!up && std::chrono::steady_clock::now() < end) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    up = (keys[code / 8] & (1 << (code % 8))) == 0;
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  XCloseDisplay(display);
  return up;
}

TEST_F(QtShellTest, HeldKeysRepeatTheHotkey) {
  RequireXdotool();
  ASSERT_TRUE(shell_->RegisterGlobalHotkey(kModControl | kModShift, kVkF11));
  SetKeyRepeat(true);
  Xdotool({"keydown", "ctrl+shift+F11"});
  // The first is the press; the display's repeats say they are repeats.
  std::vector<bool> repeats;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (repeats.size() < 3 && std::chrono::steady_clock::now() < end) {
    if (shell_->WaitEvent(20) == kEventHotkey) {
      repeats.push_back(shell_->EventIsRepeat());
    }
  }
  Xdotool({"keyup", "ctrl+shift+F11"});
  SetKeyRepeat(false);
  EXPECT_EQ(repeats, (std::vector<bool>{false, true, true}))
      << "presses while held";
  // Once the server has the key up it makes no more repeats; those it made
  // before are already on their way. After them nothing more may come.
  ASSERT_TRUE(KeyIsUp(XK_F11)) << "the key stayed down after its release";
  Drain();
  EXPECT_EQ(CountEvents(kEventHotkey, 400), 0) << "repeats after release";
  // Released, the next press is a new one.
  Keys("ctrl+shift+F11");
  EXPECT_EQ(NextEvent(), kEventHotkey);
  EXPECT_FALSE(shell_->EventIsRepeat());
}

TEST_F(QtShellTest, KeysTakenByAnotherClientAreRefusedAndLeftAlone) {
  RequireXdotool();
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  const KeyCode f5 = XKeysymToKeycode(other, XK_F5);
  const Window root = DefaultRootWindow(other);
  XGrabKey(other, f5, Mod1Mask, root, False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);

  EXPECT_FALSE(shell_->RegisterGlobalHotkey(kModAlt, kVkF5));
  Keys("alt+F5");
  EXPECT_EQ(CountEvents(kEventHotkey, 300), 0);

  // The refused registration kept none of the lock variants for itself:
  // the other client can take one of them.
  static bool failed;
  failed = false;
  XSetErrorHandler([](Display*, XErrorEvent*) {
    failed = true;
    return 0;
  });
  XGrabKey(other, f5, Mod1Mask | LockMask, root, False, GrabModeAsync,
           GrabModeAsync);
  XSync(other, False);
  XSetErrorHandler(nullptr);
  EXPECT_FALSE(failed);
  XCloseDisplay(other);  // releases its grabs

  EXPECT_TRUE(shell_->RegisterGlobalHotkey(kModAlt, kVkF5));
  Keys("alt+F5");
  EXPECT_EQ(NextEvent(), kEventHotkey);
}

TEST_F(QtShellTest, TrayIconNeedsAnImageAndReportsEveryKindOfClick) {
  EXPECT_EQ(shell_->LoadImage("/nonexistent/VESKA.bmp"), 0u);
  EXPECT_FALSE(shell_->AddTrayIcon(1, 0));
  EXPECT_FALSE(shell_->AddTrayIcon(1, 987654));
  EXPECT_EQ(FindTrayIcon(1), nullptr);

  const ImageHandle image = shell_->LoadImage(WriteIcon());
  ASSERT_NE(image, 0u);
  ASSERT_TRUE(shell_->AddTrayIcon(1, image));
  ASSERT_NE(FindTrayIcon(1), nullptr);
  EXPECT_FALSE(FindTrayIcon(1)->icon().isNull());
  EXPECT_FALSE(shell_->AddTrayIcon(1, image));

  for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::MiddleClick,
                      QSystemTrayIcon::Context, QSystemTrayIcon::Unknown,
                      QSystemTrayIcon::DoubleClick}) {
    emit FindTrayIcon(1)->activated(reason);
  }
  // Left, right and double clicks; the middle button is none of them.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(shell_->WaitEvent(0), kEventTray);
  EXPECT_EQ(shell_->WaitEvent(0), kEventTimeout);

  shell_->RemoveTrayIcon(1);
  EXPECT_EQ(FindTrayIcon(1), nullptr);
  shell_->RemoveTrayIcon(1);  // twice, or never added: nothing happens
  shell_->RemoveTrayIcon(42);
}

TEST_F(QtShellTest, TooltipIsCutTo127Characters) {
  // Set before the icon exists: applied when it is added.
  shell_->SetTrayTooltip(2, std::string(200, 'x'));
  ASSERT_TRUE(shell_->AddTrayIcon(2, shell_->LoadImage(WriteIcon())));
  QSystemTrayIcon* icon = FindTrayIcon(2);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->toolTip(), QString(127, 'x'));

  // Characters, not bytes.
  std::string accents;
  for (int i = 0; i < 140; ++i) accents += "\xC3\xA9";  // e acute
  shell_->SetTrayTooltip(2, accents);
  EXPECT_EQ(icon->toolTip(), QString(127, QChar(0xE9)));

  // A character outside the basic plane is kept whole or dropped whole.
  shell_->SetTrayTooltip(2, std::string(126, 'a') + "\xF0\x9F\x98\x80");
  EXPECT_EQ(icon->toolTip(), QString(126, 'a'));
  // The longest text the program shows, every optional element included.
  const std::string longest =
      "VESKA - AVG CPU: 100% - RAM: 100% - Disk: 100 - Net: 100% - GPU: "
      "100% - Temp: 100\xC2\xB0"
      "C - Battery: 100%";
  shell_->SetTrayTooltip(2, longest);
  EXPECT_EQ(icon->toolTip(), QString::fromUtf8(longest.c_str()));
  shell_->SetTrayTooltip(2, "VESKA");
  EXPECT_EQ(icon->toolTip(), "VESKA");
  shell_->RemoveTrayIcon(2);
}

void BuildVolumeMenu(QtShell& shell) {
  shell.CreatePopupMenu();
  shell.AddMenuItem(1, "Load soundpack...");
  shell.OpenSubMenu("Volume");
  shell.AddMenuItem(10, "10%");
  shell.OpenSubMenu("Deeper");
  shell.AddMenuItem(20, "Inner");
  shell.CloseSubMenu();
  shell.AddMenuItem(11, "Custom...");
  shell.CloseSubMenu();
  shell.CloseSubMenu();  // one too many: stays at the top level
  shell.AddMenuItem(2, "Exit");
}

TEST_F(QtShellTest, MenuIsBuiltWithNestedSubMenusIdsAndChecks) {
  BuildVolumeMenu(*shell_);
  shell_->SetMenuCheck(11, true);
  shell_->SetMenuCheck(20, true);
  shell_->SetMenuCheck(20, false);
  shell_->SetMenuCheck(999, true);  // no such item: nothing happens

  QMenu* menu = FindPopupMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Texts(menu), QStringList({"Load soundpack...", "Volume", "Exit"}));
  QMenu* volume = ActionNamed(menu, "Volume")->menu();
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(Texts(volume), QStringList({"10%", "Deeper", "Custom..."}));
  QMenu* deeper = ActionNamed(volume, "Deeper")->menu();
  ASSERT_NE(deeper, nullptr);
  EXPECT_EQ(Texts(deeper), QStringList({"Inner"}));

  EXPECT_EQ(ActionNamed(menu, "Exit")->data().toInt(), 2);
  EXPECT_EQ(ActionNamed(volume, "Custom...")->data().toInt(), 11);
  EXPECT_EQ(ActionNamed(deeper, "Inner")->data().toInt(), 20);
  EXPECT_TRUE(ActionNamed(volume, "Custom...")->isChecked());
  EXPECT_FALSE(ActionNamed(volume, "10%")->isChecked());
  EXPECT_FALSE(ActionNamed(deeper, "Inner")->isChecked());

  // A new menu replaces the old one entirely.
  shell_->CreatePopupMenu();
  shell_->AddMenuItem(5, "Only");
  int menus = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == kPopupMenuObjectName) ++menus;
  }
  EXPECT_EQ(menus, 1);
  EXPECT_EQ(Texts(FindPopupMenu()), QStringList({"Only"}));
}

TEST_F(QtShellTest, PopupMenuOpensAtThePointerAndReturnsTheChoiceLater) {
  BuildVolumeMenu(*shell_);
  shell_->SetMenuCheck(11, true);
  QCursor::setPos(500, 400);
  QApplication::processEvents();

  QPoint opened_at;
  int stage = 0;
  DriveModal([&]() {
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (popup == nullptr) return false;
    if (stage == 0 && popup == FindPopupMenu()) {
      opened_at = popup->pos();
      popup->setActiveAction(ActionNamed(popup, "Volume"));
      QTest::keyClick(popup, Qt::Key_Right);
      stage = 1;
      return false;
    }
    if (stage == 1 && popup != FindPopupMenu()) {
      popup->setActiveAction(ActionNamed(popup, "Custom..."));
      QTest::keyClick(popup, Qt::Key_Return);
      return true;
    }
    return false;
  });
  shell_->ShowPopupMenu();
  EXPECT_EQ(opened_at, QPoint(499, 399));
  // Nothing happens inside ShowPopupMenu; the choice is the next event.
  EXPECT_EQ(shell_->WaitEvent(0), kEventMenu);
  EXPECT_EQ(shell_->EventMenuId(), 11);
  EXPECT_EQ(shell_->EventParam(), 11);
  EXPECT_EQ(shell_->WaitEvent(0), kEventTimeout);
  EXPECT_EQ(shell_->EventMenuId(), 11) << "a time-out keeps the latest id";

  // Choosing an item leaves its check mark as the program set it.
  QMenu* volume = ActionNamed(FindPopupMenu(), "Volume")->menu();
  EXPECT_TRUE(ActionNamed(volume, "Custom...")->isChecked());

  // A dismissed menu gives no event.
  DriveModal([&]() {
    QWidget* popup = QApplication::activePopupWidget();
    if (popup == nullptr) return false;
    QTest::keyClick(popup, Qt::Key_Escape);
    return true;
  });
  shell_->ShowPopupMenu();
  EXPECT_EQ(shell_->WaitEvent(0), kEventTimeout);
}

TEST_F(QtShellTest, MessageBoxAnswers) {
  QString title;
  QString text;
  Qt::TextFormat format = Qt::RichText;
  DriveModal([&]() {
    auto* box = ActiveModal<QMessageBox>();
    if (box == nullptr) return false;
    title = box->windowTitle();
    text = box->text();
    format = box->textFormat();
    box->button(QMessageBox::Ok)->click();
    return true;
  });
  EXPECT_EQ(shell_->ShowMessage("Error", "<b>Can't</b> write", kMessageOk),
            kAnswerOk);
  EXPECT_EQ(title, "Error");
  EXPECT_EQ(text, "<b>Can't</b> write");
  EXPECT_EQ(format, Qt::PlainText);

  DriveModal([]() {
    auto* box = ActiveModal<QMessageBox>();
    if (box == nullptr || box->button(QMessageBox::Yes) == nullptr) {
      return false;
    }
    box->button(QMessageBox::Yes)->click();
    return true;
  });
  EXPECT_EQ(shell_->ShowMessage("Question", "Fix it?", kMessageYesNo),
            kAnswerYes);

  DriveModal([]() {
    auto* box = ActiveModal<QMessageBox>();
    if (box == nullptr) return false;
    QTest::keyClick(box, Qt::Key_Escape);
    return true;
  });
  EXPECT_EQ(shell_->ShowMessage("Question", "Fix it?", kMessageYesNo),
            kAnswerNo);
}

TEST_F(QtShellTest, TextRequesterLayoutAndAnswers) {
  QString title;
  QSize size;
  QPoint centre;
  QString field_text;
  int cursor = -1;
  bool selected = true;
  QString ok_text;
  DriveModal([&]() {
    auto* dialog = ActiveModal<QDialog>();
    if (dialog == nullptr || !dialog->isVisible()) return false;
    auto* field = dialog->findChild<QLineEdit*>();
    if (field == nullptr) return false;
    title = dialog->windowTitle();
    size = dialog->size();
    centre = dialog->geometry().center();
    field_text = field->text();
    cursor = field->cursorPosition();
    selected = field->hasSelectedText();
    auto* ok = dialog->findChild<QPushButton*>();
    ok_text = ok != nullptr ? ok->text() : QString();
    QTest::keyClicks(field, "5");
    QTest::keyClick(field, Qt::Key_Return);
    return true;
  });
  EXPECT_EQ(shell_->TextRequester("Volume", "Enter a percentage", "12.5"),
            "12.55");
  EXPECT_EQ(title, "Volume");
  EXPECT_EQ(size, QSize(300, 130));
  const QPoint screen =
      QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((centre - screen).manhattanLength(), 2);
  EXPECT_EQ(field_text, "12.5");
  EXPECT_EQ(cursor, 4);
  EXPECT_FALSE(selected);  // typing adds to the default, not replaces it
  EXPECT_EQ(ok_text, "OK");

  DriveModal([]() {
    auto* dialog = ActiveModal<QDialog>();
    if (dialog == nullptr) return false;
    QTest::keyClicks(dialog->findChild<QLineEdit*>(), "99");
    QTest::keyClick(dialog, Qt::Key_Escape);
    return true;
  });
  EXPECT_EQ(shell_->TextRequester("Volume", "Prompt", "7"), std::nullopt);

  // An emptied field is an answer, not a cancel.
  DriveModal([]() {
    auto* dialog = ActiveModal<QDialog>();
    if (dialog == nullptr) return false;
    auto* field = dialog->findChild<QLineEdit*>();
    field->clear();
    QTest::keyClick(field, Qt::Key_Return);
    return true;
  });
  EXPECT_EQ(shell_->TextRequester("Volume", "Prompt", "7"), "");
}

TEST_F(QtShellTest, FolderRequesterOpensAtTheFolderAndEndsTheAnswerWithSlash) {
  const testing::TempFolder temp;
  const fs::path& base = temp.path();
  fs::create_directories(base / "packs" / "calm");
  const QString packs = QString::fromStdString((base / "packs").string());

  QString opened_in;
  QString title;
  bool native = true;
  DriveModal([&]() {
    auto* dialog = ActiveModal<QFileDialog>();
    if (dialog == nullptr) return false;
    opened_in = dialog->directory().absolutePath();
    title = dialog->windowTitle();
    native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
    dialog->setDirectory(packs + "/calm");
    static_cast<QDialog*>(dialog)->accept();  // the chooser's own accept
    return true;
  });
  EXPECT_EQ(shell_->FolderRequester("Select a soundpack", packs.toStdString()),
            (base / "packs" / "calm").string() + "/");
  EXPECT_EQ(opened_in, packs);
  EXPECT_EQ(title, "Select a soundpack");
  EXPECT_FALSE(native);

  DriveModal([]() {
    auto* dialog = ActiveModal<QFileDialog>();
    if (dialog == nullptr) return false;
    dialog->reject();
    return true;
  });
  EXPECT_EQ(shell_->FolderRequester("Select a soundpack", packs.toStdString()),
            "");
}

// Runs the exit probe, a second client of the display, with `args`; how it
// ended, and its output in `out`.
ChildResult RunExitProbe(const std::vector<std::string>& args,
                         std::string* out) {
  const testing::TempFolder temp;
  const std::string base = (temp.path() / "probe").string();
  std::vector<std::string> argv = {VESKA_EXIT_PROBE};
  argv.insert(argv.end(), args.begin(), args.end());
  const ChildResult run =
      RunBounded(argv, std::chrono::seconds(30), base + ".out", base + ".err");
  *out = testing::ReadFile(base + ".out");
  return run;
}

// A server that ends when its last client leaves: the shell's start must
// never leave it without one (its check of the display once did, and the
// toolkit then found no server and aborted).
TEST_F(QtShellTest, StartsOnADisplayWhereItIsTheOnlyClient) {
  pid_t server = -1;
  std::string why;
  const std::string name = StartXvfb({"-terminate"}, &server, &why);
  ASSERT_FALSE(name.empty()) << why;
  std::string out;
  ChildResult run;
  {
    ScopedEnv display("DISPLAY", name.c_str());
    run = RunExitProbe({"0"}, &out);
  }
  StopXvfb(server);
  EXPECT_EQ(run.exit_code, 0) << run.why;
  EXPECT_EQ(out, "printf-part stream-part");
}

TEST_F(QtShellTest, ExitProcessEndsWithTheCodeAfterFlushingOutput) {
  std::string out;
  const ChildResult seven = RunExitProbe({"7", WriteIcon()}, &out);
  EXPECT_EQ(seven.exit_code, 7) << seven.why;
  EXPECT_EQ(out, "printf-part stream-part");
  const ChildResult zero = RunExitProbe({"0"}, &out);
  EXPECT_EQ(zero.exit_code, 0) << zero.why;
}

}  // namespace
}  // namespace veska
