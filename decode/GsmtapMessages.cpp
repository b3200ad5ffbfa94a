// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/GsmtapMessages.h"

#include <charconv>
#include <vector>

#include "decode/DiagDecoder.h"

namespace decode {

CGsmtapConverter::MessageFormatter DebugMessageFormatter(std::shared_ptr<const CMessageDatabase> database)
{
    auto decoder = std::make_shared<CDiagDecoder>(std::move(database));
    decoder->SetNames(false);
    auto records = std::make_shared<std::vector<DecodedRecord>>();
    return [decoder, records](std::span<const std::uint8_t> packet) -> std::optional<FormattedMessage> {
        records->clear();
        decoder->Decode(packet, *records);
        if (records->empty() || records->front().kind != RecordKind::Message)
            return std::nullopt;
        const DecodedRecord& r = records->front();
        FormattedMessage message;
        message.text = r.text;
        message.ssid = static_cast<std::uint16_t>(r.code);
        message.timestamp = r.timestamp.value_or(0);
        // The decoder names a message "file:line".
        const std::size_t colon = r.name.rfind(':');
        message.file = r.name.substr(0, colon);
        if (colon != std::string::npos)
            std::from_chars(r.name.data() + colon + 1, r.name.data() + r.name.size(), message.line);
        return message;
    };
}

}  // namespace decode
