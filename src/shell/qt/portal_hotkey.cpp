#include "shell/qt/portal_hotkey.h"

#include <X11/Xlib.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "shell/qt/virtual_keys.h"
#include "shell/shell_services.h"

namespace {

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument,
                          const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument,
                                PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace veska {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface =
    QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface =
    QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface =
    QStringLiteral("org.freedesktop.portal.Session");
const QString kShortcutId = QStringLiteral("hotkey");
// The portal answers a call at once; only its Response waits for the user.
constexpr int kCallTimeoutMs = 5000;

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

QString PathOf(const QVariant& value) {
  if (value.canConvert<QDBusObjectPath>()) {
    QString path = value.value<QDBusObjectPath>().path();
    if (!path.isEmpty()) return path;
  }
  return value.toString();
}

}  // namespace

bool InWaylandSession(const char* platform) {
  // XDG_SESSION_TYPE alone is not enough: a program started under a private
  // X server from a Wayland desktop inherits it but not WAYLAND_DISPLAY.
  return (platform != nullptr && std::strcmp(platform, "wayland") == 0) ||
         Set("WAYLAND_DISPLAY");
}

std::string PortalTrigger(int32_t modifiers, int32_t virtual_key) {
  const unsigned long keysym = VirtualKeyToKeysym(virtual_key);
  const char* name = keysym != 0 ? XKeysymToString(keysym) : nullptr;
  if (name == nullptr) return "";
  std::string trigger;
  if (modifiers & kModControl) trigger += "CTRL+";
  if (modifiers & kModAlt) trigger += "ALT+";
  if (modifiers & kModShift) trigger += "SHIFT+";
  if (modifiers & kModWin) trigger += "LOGO+";
  return trigger + name;
}

PortalHotkey::PortalHotkey(const QDBusConnection& bus) : bus_(bus) {
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  repeat_.setTimerType(Qt::PreciseTimer);
  connect(&repeat_, &QTimer::timeout, this, &PortalHotkey::OnRepeat);
}

PortalHotkey::~PortalHotkey() {
  if (!session_.isEmpty() && bus_.isConnected()) {
    bus_.send(QDBusMessage::createMethodCall(kService, session_,
                                             kSessionInterface, "Close"));
  }
}

bool PortalHotkey::Bind(int32_t modifiers, int32_t virtual_key) {
  trigger_ = PortalTrigger(modifiers, virtual_key);
  if (trigger_.empty()) {
    Report("its key has no name the desktop portal knows");
    return false;
  }
  if (!bus_.isConnected()) {
    Report("there is no session bus to reach the desktop portal");
    return false;
  }
  // Asking for the version also starts a portal that is not running yet.
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kPath, "org.freedesktop.DBus.Properties", "Get");
  get << kInterface << QStringLiteral("version");
  if (bus_.call(get, QDBus::Block, kCallTimeoutMs).type() !=
      QDBusMessage::ReplyMessage) {
    Report("the desktop portal offers no global shortcuts here");
    return false;
  }
  if (!watcher_) {
    watcher_ = std::make_unique<QDBusServiceWatcher>(
        kService, bus_, QDBusServiceWatcher::WatchForUnregistration);
    connect(watcher_.get(), &QDBusServiceWatcher::serviceUnregistered, this,
            &PortalHotkey::OnPortalGone);
  }
  if (!session_.isEmpty()) {  // a new binding in the session we have
    OnSessionResponse(0, {{"session_handle", session_}});
    return true;
  }
  const QVariantMap options = {
      {"session_handle_token", QStringLiteral("veska%1").arg(next_token_++)}};
  if (!Request("CreateSession", {}, options,
               SLOT(OnSessionResponse(uint, QVariantMap)))) {
    Report("the desktop portal would not open a shortcut session");
    return false;
  }
  return true;
}

std::vector<bool> PortalHotkey::TakePresses() {
  return std::exchange(presses_, {});
}

bool PortalHotkey::Request(const QString& method, QVariantList arguments,
                           QVariantMap options, const char* slot) {
  const QString token = QStringLiteral("veska%1").arg(next_token_++);
  options.insert("handle_token", token);
  // The portal names the request object after our name and the token; we
  // listen there before calling, so that a quick answer is not missed.
  QString sender = bus_.baseService().mid(1);
  sender.replace('.', '_');
  WatchRequest(kPath + "/request/" + sender + "/" + token, slot);

  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  arguments << options;
  call.setArguments(arguments);
  const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage ||
      reply.arguments().isEmpty()) {
    WatchRequest({}, nullptr);
    return false;
  }
  const QString handle = PathOf(reply.arguments().first());
  if (handle != request_path_) WatchRequest(handle, slot);  // older portals
  return true;
}

void PortalHotkey::WatchRequest(const QString& path, const char* slot) {
  if (!request_path_.isEmpty()) {
    bus_.disconnect(kService, request_path_, kRequestInterface, "Response",
                    this, request_slot_);
  }
  request_path_ = path;
  request_slot_ = slot;
  if (!path.isEmpty()) {
    bus_.connect(kService, path, kRequestInterface, "Response", this, slot);
  }
}

void PortalHotkey::OnSessionResponse(uint response,
                                     const QVariantMap& results) {
  WatchRequest({}, nullptr);
  const QString session = PathOf(results.value("session_handle"));
  if (response != 0 || session.isEmpty()) {
    Lose("the desktop portal would not open a shortcut session");
    return;
  }
  if (session != session_) {
    session_ = session;
    bus_.connect(kService, session_, kSessionInterface, "Closed", this,
                 SLOT(OnSessionClosed(QVariantMap)));
    bus_.connect(
        kService, kPath, kInterface, "Activated", this,
        SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bus_.connect(
        kService, kPath, kInterface, "Deactivated", this,
        SLOT(OnDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
  }
  const PortalShortcut shortcut = {
      kShortcutId,
      {{"description", QStringLiteral("Mute, or play while held (VESKA)")},
       {"preferred_trigger", QString::fromStdString(trigger_)}}};
  const QVariantList arguments = {
      QVariant::fromValue(QDBusObjectPath(session_)),
      QVariant::fromValue(QList<PortalShortcut>{shortcut}), QString()};
  if (!Request("BindShortcuts", arguments, {},
               SLOT(OnBindResponse(uint, QVariantMap)))) {
    Lose("the desktop portal would not bind it");
  }
}

void PortalHotkey::OnBindResponse(uint response, const QVariantMap&) {
  WatchRequest({}, nullptr);
  if (response != 0) {
    Lose("the desktop did not allow it");
    return;
  }
  bound_ = true;
}

void PortalHotkey::OnActivated(const QDBusObjectPath& session,
                               const QString& id, qulonglong,
                               const QVariantMap&) {
  if (!bound_ || session.path() != session_ || id != kShortcutId || held_) {
    return;
  }
  held_ = true;
  presses_.push_back(false);
  repeat_.start(kRepeatDelayMs);
}

void PortalHotkey::OnDeactivated(const QDBusObjectPath& session,
                                 const QString& id, qulonglong,
                                 const QVariantMap&) {
  if (session.path() != session_ || id != kShortcutId) return;
  held_ = false;
  repeat_.stop();
}

void PortalHotkey::OnRepeat() {
  if (!held_) return;
  presses_.push_back(true);
  if (repeat_.interval() != kRepeatIntervalMs) {
    repeat_.setInterval(kRepeatIntervalMs);
  }
}

void PortalHotkey::OnSessionClosed(const QVariantMap&) {
  session_.clear();
  Lose("the desktop closed its shortcut session");
}

void PortalHotkey::OnPortalGone() {
  session_.clear();  // it went with the portal
  Lose("the desktop portal went away");
}

void PortalHotkey::Lose(const std::string& why) {
  bound_ = false;
  held_ = false;
  repeat_.stop();
  Report(why);
}

void PortalHotkey::Report(const std::string& why) {
  if (reported_) return;
  reported_ = true;
  const std::string hotkey = trigger_.empty() ? "" : " " + trigger_;
  std::fprintf(stderr, "VESKA: the hotkey%s does not work: %s.\n",
               hotkey.c_str(), why.c_str());
}

}  // namespace veska
