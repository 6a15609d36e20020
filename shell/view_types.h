// SPDX-License-Identifier: GPL-3.0-or-later
// Words both programs' views share.
#pragma once

namespace qc {

// The icon of a message box.
enum class MessageIcon { Information, Warning, Error };

}  // namespace qc
