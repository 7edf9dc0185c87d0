// The global hotkey in a Wayland session, where no program may grab keys:
// the desktop portal's GlobalShortcuts interface binds the keys on our behalf
// (after asking the user) and signals when they go down and up.
#ifndef VESKA_SHELL_QT_PORTAL_HOTKEY_H_
#define VESKA_SHELL_QT_PORTAL_HOTKEY_H_

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QDBusServiceWatcher;

namespace veska {

// True when the desktop is a Wayland session (or the toolkit runs on
// `platform` "wayland"): there an X11 grab sees keys only while one of the
// X11 windows has the focus.
bool InWaylandSession(const char* platform);

// The portal's text for a shortcut ("CTRL+SHIFT+F11"): modifiers, then the
// key's keysym name. Empty when the key has no name.
std::string PortalTrigger(int32_t modifiers, int32_t virtual_key);

class PortalHotkey : public QObject {
  Q_OBJECT

 public:
  // Repeats while the keys are held, like a keyboard's auto-repeat, so that
  // "Push To Play" keeps playing: the first well within its 500 ms.
  static constexpr int kRepeatDelayMs = 300;
  static constexpr int kRepeatIntervalMs = 50;

  explicit PortalHotkey(const QDBusConnection& bus);
  ~PortalHotkey() override;

  // Asks the portal to bind the keys; the answer comes later. False when no
  // portal offers global shortcuts here or the keys have no name. Each way
  // the hotkey ends up not working (no portal, refused, portal gone) is told
  // once, on standard error.
  bool Bind(int32_t modifiers, int32_t virtual_key);

  // Presses since the last call, in order, repeats included: true marks a
  // repeat of keys still held.
  std::vector<bool> TakePresses();
  bool Held() const { return held_; }
  // The portal has accepted the binding and is still there.
  bool Bound() const { return bound_; }

 private slots:
  void OnSessionResponse(uint response, const QVariantMap& results);
  void OnBindResponse(uint response, const QVariantMap& results);
  void OnActivated(const QDBusObjectPath& session, const QString& id,
                   qulonglong timestamp, const QVariantMap& options);
  void OnDeactivated(const QDBusObjectPath& session, const QString& id,
                     qulonglong timestamp, const QVariantMap& options);
  void OnSessionClosed(const QVariantMap& details);
  void OnPortalGone();
  void OnRepeat();

 private:
  // Calls a portal method that answers later through a request object;
  // `slot` receives its Response. False when the call itself failed.
  bool Request(const QString& method, QVariantList arguments,
               QVariantMap options, const char* slot);
  void WatchRequest(const QString& path, const char* slot);
  void Lose(const std::string& why);
  void Report(const std::string& why);

  QDBusConnection bus_;
  std::unique_ptr<QDBusServiceWatcher> watcher_;
  QString request_path_;
  const char* request_slot_ = nullptr;
  QString session_;
  std::string trigger_;
  int next_token_ = 0;
  std::vector<bool> presses_;
  bool held_ = false;
  bool bound_ = false;
  bool reported_ = false;
  QTimer repeat_;
};

}  // namespace veska

#endif  // VESKA_SHELL_QT_PORTAL_HOTKEY_H_
