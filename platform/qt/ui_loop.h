// SPDX-License-Identifier: GPL-3.0-or-later
// The event loop's services as both programs' views use them: work posted
// to the GUI thread, repeating timers by id, and the end of the loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>

namespace qc {

class UiLoop : public QObject {
  Q_OBJECT
 public:
  // Runs fn later on the GUI thread, in posting order. Any thread.
  void Post(std::function<void()> fn);
  // (Re)starts the repeating timer id with the interval (ms, negative as 0);
  // tick runs on the GUI thread. The first start of an id fixes its tick.
  void StartTimer(int id, int intervalMs, std::function<void()> tick);
  void StopTimer(int id);
  // Leaves every running event loop, also a message box's or a dialog's.
  static void Quit(int exitCode);

 private:
  std::map<int, QTimer*> timers_;
};

}  // namespace qc
