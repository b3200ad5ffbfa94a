// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CReceiveView: what the window shows of the bytes it receives: the results
// box with its 512-byte rule, the running byte count of the status line, and
// each chunk's text form (the bytes as they came, or "%02X " hex text).
//
// Window thread only; Take runs inside the port's hand-over, while the reader
// waits for it.
#include "ui/ResultsBox.h"

#include <array>
#include <cstdint>
#include <span>

inline constexpr int kRxTextSize = 8204;
// The received-text buffer: the plain text of a whole chunk, or the hex text of
// up to 2734 bytes (larger chunks are converted in pieces).
extern std::array<char, kRxTextSize> g_szRxText;

class CReceiveView {
public:
    explicit CReceiveView(QWidget* parent);

    // Counts the chunk; in every mode but Log client shows it in the mode's text form.
    void Take(int mode, std::span<const std::uint8_t> chunk);
    // The Clear button under the box: the count starts again, the box is emptied.
    void Clear();
    // A line of the window's own (what Stop Modem Logging sent), set apart.
    void AppendNote(const QString& note);
    // "Received %d bytes..." with the running count.
    QString StatusText() const;

    CResultsBox& Box() { return m_box; }
    std::int64_t& RxTotal() { return m_nRxTotal; }
    std::uint32_t& ShownBytes() { return m_nShownBytes; }

private:
    CResultsBox m_box;
    std::int64_t m_nRxTotal = 0;   // 64-bit: a logging session passes 2 GiB
    std::uint32_t m_nShownBytes = 0;
};
