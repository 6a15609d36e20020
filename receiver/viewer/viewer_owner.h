// SPDX-License-Identifier: GPL-3.0-or-later
// What the viewer asks of the program that owns it: the tray controller in
// qvrecv, a headless program, tests.
#pragma once

#include <cstdint>

namespace qc {

// States of the receiver's tray icon.
enum class TrayState : int { Disconnected = 0, Receiving = 1, Hidden = 2 };

// TransmissionFrom runs on the read thread, the others may run on the update
// thread, while the owner's own thread works;
// implementations must be thread-safe for that and must not call
// qvViewer::Stop() or Init() from inside them (Stop() waits for the update
// thread that is making the call): post the work to the owner's thread.
class ViewerOwner {
 public:
  virtual ~ViewerOwner() = default;

  // Read thread, once per transmission, before the update thread starts on
  // it: the address and port (host order) the transmission comes from; its
  // datagrams are taken from there only.
  virtual void TransmissionFrom(uint32_t address, uint16_t port) { (void)address, (void)port; }

  // Update thread, once per transmission, right after the framebuffer was
  // created and the window placed: shows TrayState::Receiving.
  virtual void UpdateTrayIcon(TrayState state) = 0;

  // Update thread: sends one update request (the two bytes F8 FF to
  // group:port+1). Called for a loss that a repair cannot mend (numbers
  // that go back, a gap too wide, a repair asked for in vain) and for every
  // datagram that had to be dropped as damaged.
  virtual void SendUpdateRequest() = 0;

  // Update thread: asks the sender of screenId to send again the rows of
  // the datagrams numbered first..last (the repair request). A sender that
  // does not know the extension serves a full-screen update instead.
  virtual void SendRepairRequest(uint16_t screenId, uint32_t first, uint32_t last) {
    (void)screenId, (void)first, (void)last;
    SendUpdateRequest();
  }

  // Whether the owner hears the other receivers' requests (it listens to
  // the request port). Only then do repair requests wait a back-off.
  virtual bool HearsOtherReceivers() const { return false; }
  // Update thread: whether other receivers asked for all of first..last of
  // screenId since sinceMs (a tick count; one request or several together),
  // so that this one need not ask.
  virtual bool HeardRepairRequest(uint16_t screenId, uint32_t first, uint32_t last,
                                  uint32_t sinceMs) {
    (void)screenId, (void)first, (void)last, (void)sinceMs;
    return false;
  }

  // Update thread, on the transmission's disconnection datagram: show the
  // disconnected state and, on the owner's thread, Stop() and Init() the
  // viewer so that the next init message starts a new transmission.
  virtual void RestartViewer() = 0;

  // The program's fatal path: hide the window, show the "Fatal error" box
  // when showMessage, end the program. The viewer window calls it on the GUI
  // thread (false) when the user closes the window. The core itself does
  // not call it: damaged datagrams are dropped and answered with an update
  // request instead of ending the program.
  virtual void FatalStop(bool showMessage) = 0;
};

}  // namespace qc
