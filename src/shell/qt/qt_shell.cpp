#include "shell/qt/qt_shell.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <vector>

#include "shell/event_queue.h"
#include "shell/qt/login_start.h"
#include "shell/qt/portal_hotkey.h"
#include "shell/qt/program_start.h"
#include "shell/qt/session_lock.h"
#include "shell/qt/tray_image.h"
#include "shell/qt/x11_hotkey.h"

namespace veska {
namespace {

// The Windows shell's limit too, so both show the same text.
constexpr int kTooltipLimit = 127;
constexpr int kRequesterWidth = 300;
constexpr int kRequesterHeight = 130;
constexpr const char* kCheckedProperty = "veska-checked";

// The toolkit keeps references to argc and argv for the life of the
// application object, so they live in static storage.
struct ApplicationArguments {
  int argc = 3;
  char program[8] = "veska";
  char option[16] = "-platform";
  char platform[16] = {};
  char* argv[4] = {program, option, platform, nullptr};
};
ApplicationArguments application_arguments;

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// A compositor is listening on the socket named by WAYLAND_DISPLAY.
bool WaylandCompositorListening() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || name[0] == '\0') return false;
  std::string path = name;
  if (path[0] != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] == '\0') return false;
    path = std::string(runtime) + "/" + path;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected =
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return connected;
}

// Without its platform plugin the toolkit aborts instead of failing.
bool PlatformPluginInstalled(const char* prefix) {
  const QDir folder(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                    QStringLiteral("/platforms"));
  return !folder.entryList({QString::fromLatin1(prefix) + "*"}, QDir::Files)
              .isEmpty();
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString CutTooltip(const std::string& text) {
  QString tip = FromUtf8(text);
  if (tip.size() > kTooltipLimit) {
    qsizetype keep = kTooltipLimit;
    if (tip.at(keep - 1).isHighSurrogate()) --keep;  // never half a character
    tip.truncate(keep);
  }
  return tip;
}

void ApplyCheck(QAction* action, bool on) {
  // Only checked items are checkable, so that unchecked ones show no empty
  // box and match the other platforms' menus.
  action->setProperty(kCheckedProperty, on);
  action->setCheckable(on);
  action->setChecked(on);
}

// The dialog's first focus selects the whole default text, so that typing
// would replace it; the caret belongs at its end instead.
class CaretAtEndLineEdit : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    if (first_focus_) {
      first_focus_ = false;
      deselect();
      end(false);
    }
  }

 private:
  bool first_focus_ = true;
};

}  // namespace

struct QtShell::Impl {
  // Declared first so that it is destroyed last.
  std::unique_ptr<QApplication> app;
  std::unique_ptr<X11Hotkey> hotkey;
  std::unique_ptr<QSocketNotifier> hotkey_notifier;
  std::unique_ptr<PortalHotkey> portal_hotkey;  // in a Wayland session
  std::map<ImageHandle, QImage> images;
  ImageHandle next_image = 1;
  std::map<int32_t, std::unique_ptr<QSystemTrayIcon>> tray_icons;
  std::map<int32_t, QString> tooltips;
  std::unique_ptr<QMenu> menu;
  std::vector<QMenu*> open_menus;       // innermost last; owned by `menu`
  std::map<int32_t, QAction*> actions;  // first item of each id
  ShellEventQueue events;
  std::string window_title;
  int tray_host_present = -1;  // not looked at yet
  std::string display;         // the display this shell shows on, for the lock
  SessionLock session_lock;
  LoginStart login_start{std::filesystem::path()};

  // Said once each time the notification area goes or returns: the toolkit
  // puts the icon back by itself, but the user should know why it vanished.
  void NoteTrayHost() {
    if (tray_icons.empty()) return;
    const int present = QSystemTrayIcon::isSystemTrayAvailable() ? 1 : 0;
    if (present == tray_host_present) return;
    const bool seen_before = tray_host_present != -1;
    tray_host_present = present;
    if (!seen_before) return;
    std::fputs(present == 1
                   ? "Notification area back; so is the icon.\n"
                   : "Notification area lost; the icon returns with it.\n",
               stderr);
    std::fflush(stderr);
  }

  void TakeHotkeyPresses() {
    std::vector<bool> presses;
    if (portal_hotkey) presses = portal_hotkey->TakePresses();
    if (hotkey) {
      const std::vector<bool> grabbed = hotkey->TakePresses();
      presses.insert(presses.end(), grabbed.begin(), grabbed.end());
    }
    for (bool repeat : presses) events.Push(kEventHotkey, 0, 0, repeat);
  }

  // Toolkit objects go before the application object that they need.
  void DestroyToolkitObjects() {
    for (auto& [id, icon] : tray_icons) icon->hide();
    tray_icons.clear();
    open_menus.clear();
    actions.clear();
    menu.reset();
    hotkey_notifier.reset();
    hotkey.reset();
    portal_hotkey.reset();
    app.reset();
  }
};

std::unique_ptr<QtShell> QtShell::Create(std::string* error) {
  auto fail = [error](const char* message) {
    if (error != nullptr) *error = message;
    return std::unique_ptr<QtShell>();
  };
  const char* platform = nullptr;
  // The hotkey's connection doubles as the check that the display works and
  // stays open while the toolkit connects: a server whose only client has
  // just left resets and drops a connection that arrives meanwhile.
  auto hotkey = std::make_unique<X11Hotkey>();
  if (EnvironmentSet("DISPLAY") && hotkey->Open()) {
    if (!PlatformPluginInstalled("libqxcb")) {
      return fail(
          "VESKA cannot show itself: the X11 support of its widget toolkit "
          "is not installed.");
    }
    platform = "xcb";
  } else if (WaylandCompositorListening()) {
    if (!PlatformPluginInstalled("libqwayland")) {
      return fail(
          "VESKA needs an X11 display: this Wayland session offers none "
          "(DISPLAY is not usable), and the Wayland support of its widget "
          "toolkit is not installed.");
    }
    platform = "wayland";
  } else {
    return fail(
        "VESKA needs a desktop session: no display could be opened "
        "(neither DISPLAY nor WAYLAND_DISPLAY names a usable one).");
  }
  if (QCoreApplication::instance() != nullptr) {
    return fail("VESKA's desktop shell has been made already.");
  }

  std::snprintf(application_arguments.platform,
                sizeof(application_arguments.platform), "%s", platform);
  application_arguments.argc = 3;
  application_arguments.argv[0] = application_arguments.program;
  application_arguments.argv[1] = application_arguments.option;
  application_arguments.argv[2] = application_arguments.platform;
  application_arguments.argv[3] = nullptr;

  auto impl = std::make_unique<Impl>();
  impl->display =
      std::strcmp(platform, "xcb") == 0
          ? "x11-" + X11DisplayName(std::getenv("DISPLAY"))
          : std::string("wayland-") + std::getenv("WAYLAND_DISPLAY");
  // The toolkit switches to the user's locale; numbers in the program's
  // files must keep being written and read with a decimal point.
  const std::string locale = std::setlocale(LC_ALL, nullptr);
  impl->app = std::make_unique<QApplication>(application_arguments.argc,
                                             application_arguments.argv);
  std::setlocale(LC_ALL, locale.c_str());
  impl->app->setQuitOnLastWindowClosed(false);

  if (InWaylandSession(platform)) {
    impl->portal_hotkey =
        std::make_unique<PortalHotkey>(QDBusConnection::sessionBus());
  } else if (std::strcmp(platform, "xcb") == 0) {
    impl->hotkey = std::move(hotkey);
    impl->hotkey_notifier = std::make_unique<QSocketNotifier>(
        impl->hotkey->Fd(), QSocketNotifier::Read);
    Impl* raw = impl.get();
    QObject::connect(impl->hotkey_notifier.get(), &QSocketNotifier::activated,
                     [raw]() { raw->TakeHotkeyPresses(); });
  }
  return std::unique_ptr<QtShell>(new QtShell(std::move(impl)));
}

QtShell::QtShell(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

QtShell::~QtShell() { impl_->DestroyToolkitObjects(); }

ImageHandle QtShell::LoadImage(const std::string& path) {
  QImage image = LoadTrayImage(path);
  if (image.isNull()) return 0;
  const ImageHandle handle = impl_->next_image++;
  impl_->images.emplace(handle, std::move(image));
  return handle;
}

void QtShell::OpenHiddenWindow(const std::string& title) {
  // The toolkit delivers tray and menu events without an owner window.
  impl_->window_title = title;
}

bool QtShell::AddTrayIcon(int32_t id, ImageHandle image) {
  const auto found = impl_->images.find(image);
  if (found == impl_->images.end()) return false;
  if (impl_->tray_icons.count(id) != 0) return false;
  auto icon = std::make_unique<QSystemTrayIcon>(
      QIcon(QPixmap::fromImage(found->second)), impl_->app.get());
  icon->setObjectName(QString::fromLatin1(kTrayIconObjectNamePrefix) +
                      QString::number(id));
  const auto tip = impl_->tooltips.find(id);
  if (tip != impl_->tooltips.end()) icon->setToolTip(tip->second);
  Impl* impl = impl_.get();
  // A left or right press and a double click count the same, as the main
  // loop expects; a middle click is not one of them.
  QObject::connect(icon.get(), &QSystemTrayIcon::activated,
                   [impl](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger ||
                         reason == QSystemTrayIcon::Context ||
                         reason == QSystemTrayIcon::DoubleClick) {
                       impl->events.Push(kEventTray, 0, 0);
                     }
                   });
  icon->show();
  impl_->tray_icons.emplace(id, std::move(icon));
  return true;
}

void QtShell::RemoveTrayIcon(int32_t id) {
  const auto found = impl_->tray_icons.find(id);
  if (found == impl_->tray_icons.end()) return;
  found->second->hide();
  impl_->tray_icons.erase(found);
}

void QtShell::SetTrayTooltip(int32_t id, const std::string& text) {
  const QString tip = CutTooltip(text);
  impl_->tooltips[id] = tip;
  const auto found = impl_->tray_icons.find(id);
  if (found != impl_->tray_icons.end()) found->second->setToolTip(tip);
}

void QtShell::CreatePopupMenu() {
  impl_->open_menus.clear();
  impl_->actions.clear();
  impl_->menu = std::make_unique<QMenu>();
  impl_->menu->setObjectName(QString::fromLatin1(kPopupMenuObjectName));
  impl_->open_menus.push_back(impl_->menu.get());
}

void QtShell::AddMenuItem(int32_t id, const std::string& text) {
  if (impl_->open_menus.empty()) return;
  QAction* action = impl_->open_menus.back()->addAction(FromUtf8(text));
  action->setData(id);
  ApplyCheck(action, false);
  impl_->actions.emplace(id, action);
}

void QtShell::OpenSubMenu(const std::string& text) {
  if (impl_->open_menus.empty()) return;
  impl_->open_menus.push_back(
      impl_->open_menus.back()->addMenu(FromUtf8(text)));
}

void QtShell::CloseSubMenu() {
  if (impl_->open_menus.size() > 1) impl_->open_menus.pop_back();
}

void QtShell::SetMenuCheck(int32_t id, bool on) {
  const auto found = impl_->actions.find(id);
  if (found != impl_->actions.end()) ApplyCheck(found->second, on);
}

void QtShell::ShowPopupMenu() {
  if (!impl_->menu) return;
  QAction* chosen = impl_->menu->exec(QCursor::pos() - QPoint(1, 1));
  if (chosen == nullptr) return;
  // Choosing an item must not flip its check mark; only SetMenuCheck does.
  ApplyCheck(chosen, chosen->property(kCheckedProperty).toBool());
  const int32_t id = chosen->data().toInt();
  impl_->events.Push(kEventMenu, id, id);
}

bool QtShell::RegisterGlobalHotkey(int32_t modifiers, int32_t virtual_key) {
  if (impl_->portal_hotkey) {
    return impl_->portal_hotkey->Bind(modifiers, virtual_key);
  }
  if (!impl_->hotkey) return false;
  return impl_->hotkey->Grab(modifiers, virtual_key);
}

int32_t QtShell::WaitEvent(uint32_t timeout_ms) {
  Impl& impl = *impl_;
  impl.TakeHotkeyPresses();
  if (impl.events.empty()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    impl.TakeHotkeyPresses();
  }
  impl.NoteTrayHost();
  if (impl.events.empty() && timeout_ms > 0) {
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(static_cast<int>(std::min<uint32_t>(timeout_ms, INT_MAX)));
    while (impl.events.empty() && deadline.isActive()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      impl.TakeHotkeyPresses();
      impl.NoteTrayHost();
    }
  }
  return impl.events.Take();
}

std::intptr_t QtShell::EventParam() const { return impl_->events.param(); }

bool QtShell::EventIsRepeat() const { return impl_->events.repeat(); }

int32_t QtShell::EventMenuId() const { return impl_->events.menu_id(); }

int32_t QtShell::ShowMessage(const std::string& title, const std::string& text,
                             int32_t style) {
  QMessageBox box;
  box.setWindowTitle(FromUtf8(title));
  box.setTextFormat(Qt::PlainText);  // a "<" in the text is just a "<"
  box.setText(FromUtf8(text));
  if (style == kMessageYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return kAnswerOk;
}

std::optional<std::string> QtShell::TextRequester(
    const std::string& title, const std::string& prompt,
    const std::string& default_text) {
  QDialog dialog;
  dialog.setWindowTitle(FromUtf8(title));
  dialog.setFixedSize(kRequesterWidth, kRequesterHeight);

  auto* label = new QLabel(FromUtf8(prompt), &dialog);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  auto* field = new CaretAtEndLineEdit(FromUtf8(default_text), &dialog);
  field->setCursorPosition(static_cast<int>(field->text().size()));
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setDefault(true);  // Enter in the field presses it
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(label);
  layout->addWidget(field);
  layout->addLayout(buttons);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QPoint centre = screen->availableGeometry().center();
    dialog.move(centre.x() - kRequesterWidth / 2,
                centre.y() - kRequesterHeight / 2);
  }
  field->setFocus();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return field->text().toStdString();
}

std::string QtShell::FolderRequester(const std::string& title,
                                     const std::string& initial_folder) {
  QFileDialog dialog(nullptr, FromUtf8(title));
  // The toolkit's own dialog, so that it behaves alike on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const QString initial = FromUtf8(initial_folder);
  if (!initial.isEmpty() && QDir(initial).exists()) {
    dialog.setDirectory(initial);
  }
  if (dialog.exec() != QDialog::Accepted) return "";
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return "";
  QString folder = chosen.first();
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder.toStdString();
}

uint32_t QtShell::ElapsedMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void QtShell::RunElevated(const std::string& file,
                          const std::string& parameters) {
  StartElevated(file, parameters);
}

void QtShell::SetAutostartFolder(const std::filesystem::path& folder) {
  impl_->login_start = LoginStart(folder);
}

bool QtShell::ClaimSession() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string path = SessionLockPath(
      runtime ? runtime : "", static_cast<unsigned>(geteuid()), impl_->display);
  return impl_->session_lock.Take(path) != SessionLock::Claim::kTaken;
}

bool QtShell::LoginStartExists() { return impl_->login_start.Exists(); }

bool QtShell::SetLoginStart(bool on, std::string* error) {
  return impl_->login_start.Set(on, error);
}

void QtShell::ExitProcess(int exit_code) {
  impl_->DestroyToolkitObjects();
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // Static destructors of the toolkit and the sound thread are skipped on
  // purpose: they are what makes a plain exit hang or crash.
  std::_Exit(exit_code);
}

}  // namespace veska
