// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/DiagRecord.h"

#include <algorithm>

#include "decode/ByteReader.h"
#include "dm/DmCommand.h"

namespace decode {

std::optional<LogRecordView> ReadLogRecord(std::span<const std::uint8_t> packet)
{
    ByteReader in(packet);
    if (in.U8() != dm::kLog)
        return std::nullopt;
    in.U8();                          // more
    in.U16();                         // outer length
    const std::uint16_t length = in.U16();  // code + timestamp + payload + this field
    LogRecordView view;
    view.code = in.U16();
    view.timestamp = in.U64();
    if (!in.Ok() || length < 12)
        return std::nullopt;
    view.payload = in.Bytes(std::min<std::size_t>(length - 12, in.Remaining()));
    if (length - 12u > view.payload.size())
        return std::nullopt;
    return view;
}

}  // namespace decode
