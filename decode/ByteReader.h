// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// ByteReader: the one way a decoder reads a DIAG record. Every read knows how
// many bytes are left; a read that does not fit fails, returns zero (or an
// empty span) and leaves the reader failed, so a short or hostile record can
// never be read past its end. Fields are little-endian, as on the wire.
#include <cstddef>
#include <cstdint>
#include <span>

namespace decode {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool Ok() const { return m_ok; }
    std::size_t Remaining() const { return m_bytes.size() - m_pos; }
    std::size_t Position() const { return m_pos; }
    bool Has(std::size_t n) { return Fits(n); }

    std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
    std::uint32_t U24() { return static_cast<std::uint32_t>(Le(3)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
    std::uint64_t U64() { return Le(8); }

    // The next n bytes, or an empty span (and a failed reader) when fewer are left.
    std::span<const std::uint8_t> Bytes(std::size_t n)
    {
        if (!Fits(n))
            return {};
        auto out = m_bytes.subspan(m_pos, n);
        m_pos += n;
        return out;
    }

    bool Skip(std::size_t n)
    {
        if (!Fits(n))
            return false;
        m_pos += n;
        return true;
    }

    // Everything that is left; the reader is then at its end.
    std::span<const std::uint8_t> Rest()
    {
        auto out = m_bytes.subspan(m_pos);
        m_pos = m_bytes.size();
        return out;
    }

    // A NUL-terminated string: the bytes before the NUL (the NUL is consumed).
    // Without a NUL the string runs to the end and the reader is at its end.
    std::span<const std::uint8_t> CString()
    {
        auto rest = m_bytes.subspan(m_pos);
        std::size_t n = 0;
        while (n < rest.size() && rest[n] != 0)
            ++n;
        m_pos += n < rest.size() ? n + 1 : n;
        return rest.first(n);
    }

private:
    bool Fits(std::size_t n)
    {
        if (!m_ok || Remaining() < n) {
            m_ok = false;
            return false;
        }
        return true;
    }

    std::uint64_t Le(std::size_t n)
    {
        if (!Fits(n))
            return 0;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < n; ++i)
            value |= static_cast<std::uint64_t>(m_bytes[m_pos + i]) << (8 * i);
        m_pos += n;
        return value;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace decode
