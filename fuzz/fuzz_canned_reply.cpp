// SPDX-License-Identifier: GPL-2.0-or-later
// The Log server's canned replies on arbitrary received chunks: the reply
// stays inside its 133-byte room, is the same every time, and agrees with the
// vector form.
#include "FuzzCheck.h"
#include "logserver/CannedReplies.h"

#include <algorithm>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<unsigned char> request(data, data + size);   // exact heap block
    std::vector<unsigned char> reply(kMaxCannedReply);
    const unsigned n = GetCannedReply(request.data(), static_cast<unsigned>(request.size()), reply.data());
    FUZZ_CHECK(n <= kMaxCannedReply);

    std::vector<unsigned char> again(kMaxCannedReply);
    FUZZ_CHECK(GetCannedReply(request.data(), static_cast<unsigned>(request.size()), again.data()) == n);
    FUZZ_CHECK(std::equal(reply.begin(), reply.begin() + n, again.begin()));

    const std::vector<std::uint8_t> vec = CannedReplyFor(request);
    FUZZ_CHECK(vec.size() == n && std::equal(vec.begin(), vec.end(), reply.begin()));
    if (n > 0 && reply[0] == kBadCommandCode)
        FUZZ_CHECK(n <= kMaxBadCommandReply);
    return 0;
}
