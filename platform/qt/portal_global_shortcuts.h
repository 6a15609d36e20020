// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys through the desktop's GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts), for Wayland desktops, where no
// program may grab keys itself. The program names its shortcuts and the key
// it would like for each; the desktop binds them (it may ask the user, or
// let the user choose other keys in its settings) and reports each press as
// an Activated signal of the session.
//
// A session's shortcuts are bound once, so every change (Bind, Unbind)
// makes a new session with all shortcuts wanted now and closes the old one.
// Changes made in one turn of the event loop make one session; a change
// while the desktop waits for the user to confirm a binding withdraws that
// request. KDE Plasma answers BindShortcuts only once the user confirmed
// the keys in its shortcut settings, which it opens.
//
// Threads: the GUI thread (QtDBus delivers the portal's signals there).
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qc {

class PortalGlobalShortcuts : public QObject {
  Q_OBJECT
 public:
  // Null when no GlobalShortcuts portal answers on the session bus.
  // pressed(index) runs for each activation; names[index] describes the
  // shortcut to the user ("Hotkey N" where absent); logPrefix names the
  // log lines.
  static std::unique_ptr<PortalGlobalShortcuts> Open(std::function<void(int index)> pressed,
                                                     std::vector<std::string> names,
                                                     const char* logPrefix);
  ~PortalGlobalShortcuts() override;  // closes the session

  // Wants the stored hot-key code under index (replacing what it held).
  void Bind(int index, uint32_t code);
  void Unbind(int index);
  // The key the desktop reports for index, in its words; "" until it
  // answered, or when it bound none.
  std::string Trigger(int index) const;

  // The portal's preferred trigger for a stored code ("ALT+F12");
  // "" when the key has no name here (the desktop then asks for one).
  static std::string TriggerFor(uint32_t code);

 private slots:
  void OnResponse(const QDBusMessage& message);
  void OnActivated(const QDBusMessage& message);

 private:
  PortalGlobalShortcuts(std::function<void(int)> pressed, std::vector<std::string> names,
                        const char* logPrefix);
  void ScheduleRebind();
  void Rebind();
  void CloseSession();
  // Withdraws the request waiting for its answer, if any.
  void WithdrawRequest();
  // Sends a request whose answer comes as the Response signal on the
  // request's object path; false when the call failed.
  bool Send(const QString& method, const QList<QVariant>& arguments, const QString& token);
  QString NextToken();

  std::function<void(int)> pressed_;
  std::vector<std::string> names_;
  const char* logPrefix_;
  std::map<int, uint32_t> wanted_;
  std::map<int, std::string> triggers_;
  QString session_;
  QString requestPath_;  // the request waiting for its answer; "" when none
  enum class Step { Idle, Creating, Binding } step_ = Step::Idle;
  bool rebindPending_ = false;
  bool rebindScheduled_ = false;
  int counter_ = 0;
};

}  // namespace qc
