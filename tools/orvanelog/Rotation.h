// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where a rotating capture is cut: only right after a frame's closing 0x7E,
// so every file starts with a whole frame and decodes on its own, and the
// files of a run, put together in order, are exactly the bytes received.
//
// A size limit cuts at the last flag that keeps the file within the limit.
// A frame that would cross it ends the file before the frame when the file
// already ends with a flag; otherwise (the frame began in this file, or it is
// longer than the limit) the frame finishes in the file it began in, and the
// cut comes after its flag. A time limit cuts at the first flag once the time
// is up (before the chunk, when the file already ends with one). Pure: no
// file, no clock of its own.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

struct RotationLimits {
    std::uint64_t bytes = 0;                      // 0: no size limit
    std::chrono::steady_clock::duration time{};   // zero: no time limit
    bool Any() const { return bytes > 0 || time.count() > 0; }
};

class CRotation {
public:
    using Clock = std::chrono::steady_clock;

    struct Cut {
        std::size_t take = 0;      // bytes of the chunk that go into the current file
        bool newFile = false;      // then the next file starts (the rest goes there)
    };

    explicit CRotation(RotationLimits limits = {}) : m_limits(limits) {}
    bool Enabled() const { return m_limits.Any(); }

    // A new file was started at now.
    void Started(Clock::time_point now);
    // What of chunk goes into the current file before a cut; Wrote follows
    // with what was written. Without a limit the whole chunk stays.
    Cut Next(std::span<const std::uint8_t> chunk, Clock::time_point now) const;
    void Wrote(std::span<const std::uint8_t> written);

    std::uint64_t FileBytes() const { return m_fileBytes; }

private:
    Cut BySize(std::span<const std::uint8_t> chunk) const;
    Cut AtFirstFlag(std::span<const std::uint8_t> chunk) const;

    RotationLimits m_limits;
    Clock::time_point m_started{};
    std::uint64_t m_fileBytes = 0;
    bool m_endsWithFlag = false;   // the file's last byte is a flag (and it has one)
};
