// The tray view of the windowed receiver: the notification-area icon with
// its blinking images and tip, the popup menu, message boxes, the dialogs,
// the two timers and the hide/show hot key.
#pragma once

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <map>

#include "receiver/shell/tray_view.h"

namespace qv {

// Where hot keys are grabbed: the X11 grab in the program, nothing in tests.
class HotKeyGrabber {
 public:
  virtual ~HotKeyGrabber() = default;
  // Grabs the stored 16-bit code; pressed runs on the GUI thread.
  virtual bool Grab(uint32_t code, std::function<void()> pressed) = 0;
  virtual void Release() = 0;
};

// The tray image of a resource number, from the program's resources.
QIcon TrayIconImage(TrayImage image);

class QtTrayView : public QObject, public TrayView {
  Q_OBJECT
 public:
  explicit QtTrayView(HotKeyGrabber* hotkeys, QObject* parent = nullptr);
  ~QtTrayView() override;

  void Attach(qvTray& tray) override;
  void Post(std::function<void()> fn) override;
  void StartTimers() override;
  bool SetTrayIcon(TrayAction action, TrayImage image, const char* tip) override;
  void SetWindowItem(bool hideItem) override;
  void EnableReceivingItems(bool enabled) override;
  void SetFullScreenChecked(bool checked) override;
  void ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
  void RunSettingsDialog() override;
  void RunAboutDialog() override;
  bool RegisterHotKey(uint32_t code) override;
  void UnregisterHotKey() override;
  void Quit(int exitCode) override;

  QMenu* Menu() { return &menu_; }
  QSystemTrayIcon* Icon() { return &icon_; }

 private:
  QAction* AddItem(const char* text, int id);

  qvTray* tray_ = nullptr;
  HotKeyGrabber* hotkeys_;
  QSystemTrayIcon icon_;
  QMenu menu_;
  QAction* fullScreen_ = nullptr;
  QAction* hide_ = nullptr;
  QAction* show_ = nullptr;
  QAction* refresh_ = nullptr;
  QTimer blinkTimer_;
  QTimer requestTimer_;
  std::map<int, QIcon> icons_;
  bool trayMissingLogged_ = false;
};

}  // namespace qv
