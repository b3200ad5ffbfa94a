// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The modem's debug messages (0x79, and terse ones a database formats) for
// the GSMTAP converter: the decoder formats them, the converter sends each
// as an osmocore log line between the signalling.
#include <memory>

#include "decode/GsmtapConverter.h"
#include "decode/MessageDatabase.h"

namespace decode {

// A formatter for CGsmtapConverter::SetMessageFormatter; database may be null
// (then terse messages are not sent: they have no text).
CGsmtapConverter::MessageFormatter DebugMessageFormatter(std::shared_ptr<const CMessageDatabase> database);

}  // namespace decode
