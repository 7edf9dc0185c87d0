// Plays the desktop portal's side of global shortcuts on the session bus
// named by DBUS_SESSION_BUS_ADDRESS, for the tests of the portal binding.
// The test steers it through the interface org.veska.test.Portal on the same
// object: the answer to the next binding, key presses and releases, and the
// end of the session. Prints "ready" once it owns the portal's name.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <cstdio>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts =
    QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

class StandInPortal : public QDBusVirtualObject {
 public:
  explicit StandInPortal(QDBusConnection bus) : bus_(bus) {}

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message,
                     const QDBusConnection&) override {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == "org.freedesktop.DBus.Properties" &&
        member == "Get") {
      if (args.value(0).toString() != kShortcuts) {
        return Reply(message.createErrorReply(
            "org.freedesktop.DBus.Error.UnknownInterface", "no such"));
      }
      return Reply(
          message.createReply(QVariant::fromValue(QDBusVariant(QVariant(1u)))));
    }
    if (message.interface() == kShortcuts && member == "CreateSession") {
      const QVariantMap options = qdbus_cast<QVariantMap>(args.value(0));
      session_ = kPath + "/session/" + Sender(message) + "/" +
                 options.value("session_handle_token").toString();
      return Respond(message, options, 0,
                     {{"session_handle", session_}});  // a string, as of old
    }
    if (message.interface() == kShortcuts && member == "BindShortcuts") {
      ReadTrigger(args.value(1).value<QDBusArgument>());
      return Respond(message, qdbus_cast<QVariantMap>(args.value(3)),
                     bind_answer_, {});
    }
    if (message.interface() == "org.veska.test.Portal") {
      if (member == "SetBindAnswer") bind_answer_ = args.value(0).toUInt();
      if (member == "Press") Emit("Activated");
      if (member == "Release") Emit("Deactivated");
      if (member == "CloseSession") {
        bus_.send(QDBusMessage::createSignal(
                      session_, "org.freedesktop.portal.Session", "Closed")
                  << QVariantMap());
      }
      if (member == "Trigger") return Reply(message.createReply(trigger_));
      return Reply(message.createReply());
    }
    return false;
  }

 private:
  static QString Sender(const QDBusMessage& message) {
    QString sender = message.service().mid(1);
    return sender.replace('.', '_');
  }

  bool Reply(const QDBusMessage& reply) { return bus_.send(reply); }

  // Answers the call with the request object's path, then signals the
  // request's Response, as the portal does once the user has decided.
  bool Respond(const QDBusMessage& message, const QVariantMap& options,
               uint answer, const QVariantMap& results) {
    const QString request = kPath + "/request/" + Sender(message) + "/" +
                            options.value("handle_token").toString();
    Reply(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    bus_.send(QDBusMessage::createSignal(
                  request, "org.freedesktop.portal.Request", "Response")
              << answer << results);
    return true;
  }

  void ReadTrigger(const QDBusArgument& shortcuts) {
    shortcuts.beginArray();
    while (!shortcuts.atEnd()) {
      QString id;
      QVariantMap properties;
      shortcuts.beginStructure();
      shortcuts >> id >> properties;
      shortcuts.endStructure();
      trigger_ = properties.value("preferred_trigger").toString();
    }
    shortcuts.endArray();
  }

  void Emit(const char* signal) {
    bus_.send(QDBusMessage::createSignal(kPath, kShortcuts, signal)
              << QVariant::fromValue(QDBusObjectPath(session_))
              << QStringLiteral("hotkey") << qulonglong{0} << QVariantMap());
  }

  QDBusConnection bus_;
  QString session_;
  QString trigger_;
  uint bind_answer_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  StandInPortal portal(bus);
  if (!bus.isConnected() ||
      !bus.registerVirtualObject(kPath, &portal, QDBusConnection::SingleNode) ||
      !bus.registerService("org.freedesktop.portal.Desktop")) {
    std::fprintf(stderr, "portal stand-in: cannot serve on the bus\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
