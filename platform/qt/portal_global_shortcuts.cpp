// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/portal_global_shortcuts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>
#include <cstdio>

#include "common/log_file.h"

namespace qc {

// One entry of the portal's a(sa{sv}) shortcut lists: the program's id of
// the shortcut and its properties (description, preferred_trigger; in
// answers trigger_description).
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

}  // namespace qc

Q_DECLARE_METATYPE(qc::PortalShortcut)

namespace qc {

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& s) {
  out.beginStructure();
  out << s.id << s.properties;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& s) {
  in.beginStructure();
  in >> s.id >> s.properties;
  in.endStructure();
  return in;
}

namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kShortcuts[] = "org.freedesktop.portal.GlobalShortcuts";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr char kSession[] = "org.freedesktop.portal.Session";
// A call itself (not the user's answer) returns within this.
constexpr int kCallTimeoutMs = 5000;
constexpr char kIdPrefix[] = "hotkey-";

// The key names of the shortcut triggers (xkb keysym names) for the
// virtual-key codes of the stored hot-key codes.
QString KeyName(uint8_t vk) {
  if (vk >= 'A' && vk <= 'Z') return QString(QChar(vk - 'A' + 'a'));
  if (vk >= '0' && vk <= '9') return QString(QChar(vk));
  if (vk >= 0x70 && vk <= 0x87) return QStringLiteral("F%1").arg(vk - 0x70 + 1);
  if (vk >= 0x60 && vk <= 0x69) return QStringLiteral("KP_%1").arg(vk - 0x60);
  switch (vk) {
    case 0x08: return QStringLiteral("BackSpace");
    case 0x09: return QStringLiteral("Tab");
    case 0x0D: return QStringLiteral("Return");
    case 0x13: return QStringLiteral("Pause");
    case 0x1B: return QStringLiteral("Escape");
    case 0x20: return QStringLiteral("space");
    case 0x21: return QStringLiteral("Prior");
    case 0x22: return QStringLiteral("Next");
    case 0x23: return QStringLiteral("End");
    case 0x24: return QStringLiteral("Home");
    case 0x25: return QStringLiteral("Left");
    case 0x26: return QStringLiteral("Up");
    case 0x27: return QStringLiteral("Right");
    case 0x28: return QStringLiteral("Down");
    case 0x2C: return QStringLiteral("Print");
    case 0x2D: return QStringLiteral("Insert");
    case 0x2E: return QStringLiteral("Delete");
    default: return {};
  }
}

// "s" or "o": portals differ in how they type a session handle.
QString PathOf(const QVariant& v) {
  if (v.userType() == qMetaTypeId<QDBusObjectPath>()) return v.value<QDBusObjectPath>().path();
  return v.toString();
}

}  // namespace

std::string PortalGlobalShortcuts::TriggerFor(uint32_t code) {
  const QString key = KeyName(static_cast<uint8_t>(code & 0xFF));
  if (key.isEmpty()) return {};
  const uint32_t flags = (code >> 8) & 0xFF;
  QString trigger;
  if (flags & 0x02) trigger += QStringLiteral("CTRL+");
  if (flags & 0x04) trigger += QStringLiteral("ALT+");
  if (flags & 0x01) trigger += QStringLiteral("SHIFT+");
  if (flags & 0x08) trigger += QStringLiteral("LOGO+");
  return (trigger + key).toStdString();
}

std::unique_ptr<PortalGlobalShortcuts> PortalGlobalShortcuts::Open(
    std::function<void(int)> pressed, std::vector<std::string> names, const char* logPrefix) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return nullptr;
  QDBusMessage get = QDBusMessage::createMethodCall(kPortal, kPortalPath,
                                                    "org.freedesktop.DBus.Properties", "Get");
  get << QString(kShortcuts) << QStringLiteral("version");
  const QDBusMessage reply = bus.call(get, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return nullptr;
  const uint version = reply.arguments().first().value<QDBusVariant>().variant().toUInt();
  if (version < 1) return nullptr;
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  std::unique_ptr<PortalGlobalShortcuts> p(
      new PortalGlobalShortcuts(std::move(pressed), std::move(names), logPrefix));
  if (!bus.connect(kPortal, kPortalPath, kShortcuts, QStringLiteral("Activated"), p.get(),
                   SLOT(OnActivated(QDBusMessage)))) {
    return nullptr;
  }
  Log().Print("%s: Hotkeys through the desktop's GlobalShortcuts portal\n", logPrefix);
  return p;
}

PortalGlobalShortcuts::PortalGlobalShortcuts(std::function<void(int)> pressed,
                                             std::vector<std::string> names,
                                             const char* logPrefix)
    : pressed_(std::move(pressed)), names_(std::move(names)), logPrefix_(logPrefix) {}

PortalGlobalShortcuts::~PortalGlobalShortcuts() {
  WithdrawRequest();
  CloseSession();
}

void PortalGlobalShortcuts::Bind(int index, uint32_t code) {
  wanted_[index] = code;
  triggers_.erase(index);
  ScheduleRebind();
}

void PortalGlobalShortcuts::Unbind(int index) {
  if (wanted_.erase(index) == 0) return;
  triggers_.erase(index);
  ScheduleRebind();
}

std::string PortalGlobalShortcuts::Trigger(int index) const {
  auto it = triggers_.find(index);
  return it == triggers_.end() ? std::string() : it->second;
}

void PortalGlobalShortcuts::ScheduleRebind() {
  if (rebindScheduled_) return;
  rebindScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    rebindScheduled_ = false;
    if (step_ == Step::Creating) {
      rebindPending_ = true;  // the session comes within a call's time
      return;
    }
    if (step_ == Step::Binding) {
      // The desktop may wait for the user (KDE opens its shortcut
      // settings): the old wish is withdrawn, the new one asked for.
      WithdrawRequest();
      step_ = Step::Idle;
    }
    Rebind();
  });
}

QString PortalGlobalShortcuts::NextToken() {
  return QStringLiteral("quillcast_keys_%1").arg(++counter_);
}

void PortalGlobalShortcuts::WithdrawRequest() {
  if (requestPath_.isEmpty()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.disconnect(kPortal, requestPath_, kRequest, QStringLiteral("Response"), this,
                 SLOT(OnResponse(QDBusMessage)));
  QDBusMessage close = QDBusMessage::createMethodCall(kPortal, requestPath_, kRequest, "Close");
  bus.call(close, QDBus::Block, kCallTimeoutMs);
  requestPath_.clear();
}

void PortalGlobalShortcuts::CloseSession() {
  if (session_.isEmpty()) return;
  QDBusMessage close = QDBusMessage::createMethodCall(kPortal, session_, kSession, "Close");
  QDBusConnection::sessionBus().call(close, QDBus::Block, kCallTimeoutMs);
  session_.clear();
}

void PortalGlobalShortcuts::Rebind() {
  CloseSession();
  if (wanted_.empty()) return;
  const QString token = NextToken();
  QVariantMap options{{QStringLiteral("handle_token"), token},
                      {QStringLiteral("session_handle_token"), token}};
  step_ = Step::Creating;
  if (!Send(QStringLiteral("CreateSession"), {options}, token)) step_ = Step::Idle;
}

bool PortalGlobalShortcuts::Send(const QString& method, const QList<QVariant>& arguments,
                                 const QString& token) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  // The request's path is known before the call, so that its Response
  // cannot come before we listen for it.
  QString sender = bus.baseService().mid(1);
  sender.replace('.', '_');
  requestPath_ = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
  bus.connect(kPortal, requestPath_, kRequest, QStringLiteral("Response"), this,
              SLOT(OnResponse(QDBusMessage)));
  QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kShortcuts, method);
  call.setArguments(arguments);
  const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    Log().Print("%s: The GlobalShortcuts portal refused %s: %s\n", logPrefix_,
                method.toUtf8().constData(), reply.errorMessage().toUtf8().constData());
    bus.disconnect(kPortal, requestPath_, kRequest, QStringLiteral("Response"), this,
                   SLOT(OnResponse(QDBusMessage)));
    requestPath_.clear();
    return false;
  }
  return true;
}

void PortalGlobalShortcuts::OnResponse(const QDBusMessage& message) {
  // Response: u response, a{sv} results.
  const QList<QVariant> args = message.arguments();
  const uint response = args.size() >= 1 ? args[0].toUInt() : 2;
  const QVariantMap results =
      args.size() >= 2 ? qdbus_cast<QVariantMap>(args[1]) : QVariantMap();
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.disconnect(kPortal, requestPath_, kRequest, QStringLiteral("Response"), this,
                 SLOT(OnResponse(QDBusMessage)));
  requestPath_.clear();
  const Step step = std::exchange(step_, Step::Idle);
  if (step == Step::Creating) {
    session_ = PathOf(results.value(QStringLiteral("session_handle")));
    if (response != 0 || session_.isEmpty()) {
      session_.clear();
      Log().Print("%s: The desktop did not open a GlobalShortcuts session (%u)\n", logPrefix_,
                  response);
    } else {
      QList<PortalShortcut> list;
      for (const auto& [index, code] : wanted_) {
        PortalShortcut s;
        s.id = QStringLiteral("%1%2").arg(kIdPrefix).arg(index);
        const bool named = index >= 0 && static_cast<size_t>(index) < names_.size();
        s.properties[QStringLiteral("description")] =
            named ? QString::fromStdString(names_[static_cast<size_t>(index)])
                  : QStringLiteral("Hotkey %1").arg(index + 1);
        const std::string trigger = TriggerFor(code);
        if (!trigger.empty()) {
          s.properties[QStringLiteral("preferred_trigger")] = QString::fromStdString(trigger);
        }
        list << s;
      }
      const QString token = NextToken();
      step_ = Step::Binding;
      if (!Send(QStringLiteral("BindShortcuts"),
                {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(list),
                 QString(), QVariantMap{{QStringLiteral("handle_token"), token}}},
                token)) {
        step_ = Step::Idle;
      }
      if (step_ != Step::Idle) return;
    }
  } else if (step == Step::Binding) {
    if (response != 0) {
      Log().Print("%s: The desktop did not bind the hotkeys (%u)\n", logPrefix_, response);
    } else {
      const auto bound = qdbus_cast<QList<PortalShortcut>>(
          results.value(QStringLiteral("shortcuts")).value<QDBusArgument>());
      for (const PortalShortcut& s : bound) {
        bool ok = false;
        const int index = s.id.mid(static_cast<int>(sizeof kIdPrefix) - 1).toInt(&ok);
        if (!ok || !s.id.startsWith(kIdPrefix) || wanted_.count(index) == 0) continue;
        const std::string trigger =
            s.properties.value(QStringLiteral("trigger_description")).toString().toStdString();
        triggers_[index] = trigger;
        Log().Print("%s: Hotkey %d bound by the desktop: %s\n", logPrefix_, index + 1,
                    trigger.empty() ? "(no key yet)" : trigger.c_str());
      }
    }
  }
  if (rebindPending_) {
    rebindPending_ = false;
    Rebind();
  }
}

void PortalGlobalShortcuts::OnActivated(const QDBusMessage& message) {
  // Activated: o session_handle, s shortcut_id, t timestamp, a{sv} options.
  const QList<QVariant> args = message.arguments();
  if (args.size() < 2 || session_.isEmpty()) return;
  const QString id = args[1].toString();
  if (PathOf(args[0]) != session_ || !id.startsWith(kIdPrefix)) return;
  bool ok = false;
  const int index = id.mid(static_cast<int>(sizeof kIdPrefix) - 1).toInt(&ok);
  if (ok && wanted_.count(index) != 0 && pressed_) pressed_(index);
}

}  // namespace qc
