// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Replies the virtual modem gives in its own words, where the Log server's
// table (logserver/CannedReplies) is too thin for the DIAG clients in the
// field. The Log server keeps its table; only the virtual modem uses these.
//
//   00 (version)        00, compile date "Mmm dd yyyy", compile time
//                       "hh:mm:ss", release date and time likewise, version
//                       directory of 8 characters padded with blanks, then
//                       station class mark, CAI revision, model, firmware
//                       revision u16, slot cycle index, hardware major and
//                       minor: 55 bytes, no NUL inside the texts
//   7C (extended build) 7C, format 02, 00 00, hardware version u32, model
//                       id u32, build id text NUL, model text NUL
#include <cstdint>
#include <span>

namespace vmreply {

// The reply to `command`, empty when the Log server's table answers it.
std::span<const std::uint8_t> OwnReply(std::uint8_t command);

}  // namespace vmreply
