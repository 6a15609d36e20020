// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's two modal dialogs from the resource script: "Quillview
// Settings" (resource 112) and "About Quillview" (resource 111). Both run
// without an owner on the GUI thread; the controller keeps a second copy
// from opening.
#pragma once

namespace qc {

class qvTray;

// The page "Check for Updates..." opens.
inline constexpr char kReceiverUpdatePage[] =
    "https://quillcast.invalid/vorazudud/updates/?ver=1.1.0";

// Runs the settings dialog; OK applies the values through
// qvTray::AcceptSettings (which also saves them), Cancel applies nothing.
void RunReceiverSettingsDialog(qvTray& tray);
void RunReceiverAboutBox();

}  // namespace qc
