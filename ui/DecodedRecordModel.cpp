// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/DecodedRecordModel.h"

#include "decode/RecordText.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// needle is lower case already.
bool ContainsIgnoringCase(std::string_view hay, std::string_view needle)
{
    if (needle.size() > hay.size())
        return false;
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                       [](char h, char n) { return LowerAscii(h) == n; }) != hay.end();
}

// More than any screen shows in one cell; a long text (a malformed record's
// bytes in hex) is cut here, so drawing a row never converts kilobytes.
constexpr std::size_t kMaxCellBytes = 1024;

// A cell shows one line: line ends and tabs inside a text become spaces.
QString OneLine(std::string_view text)
{
    const bool cut = text.size() > kMaxCellBytes;
    if (cut) {
        text = text.substr(0, kMaxCellBytes);
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)   // no half a character
            text.remove_suffix(1);
        if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0)
            text.remove_suffix(1);
    }
    QString cell = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (cut)
        cell += QChar(0x2026);   // ...
    for (QChar& c : cell)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    return cell;
}

}  // namespace

CDecodedRecordModel::CDecodedRecordModel(QObject* parent, std::size_t maxRows, std::size_t maxTextBytes)
    : QAbstractTableModel(parent), m_maxRows(std::max<std::size_t>(1, maxRows)), m_maxBytes(maxTextBytes)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { Flush(); });
}

CDecodedRecordModel::~CDecodedRecordModel() = default;

CDecodedRecordModel::Row CDecodedRecordModel::MakeRow(const decode::DecodedRecord& record)
{
    Row row;
    row.timestamp = record.timestamp.value_or(0);
    row.hasTimestamp = record.timestamp.has_value();
    row.code = record.code;
    row.kind = record.kind;
    row.nameLength = static_cast<std::uint16_t>(std::min<std::size_t>(record.name.size(), std::numeric_limits<std::uint16_t>::max()));
    row.textLength = static_cast<std::uint32_t>(std::min<std::size_t>(record.text.size(), std::numeric_limits<std::uint32_t>::max()));
    const std::size_t size = std::size_t{row.nameLength} + row.textLength;
    if (size > 0) {
        row.chars = std::make_unique_for_overwrite<char[]>(size);
        std::memcpy(row.chars.get(), record.name.data(), row.nameLength);
        std::memcpy(row.chars.get() + row.nameLength, record.text.data(), row.textLength);
    }
    return row;
}

decode::DecodedRecord CDecodedRecordModel::ToRecord(const Row& row)
{
    decode::DecodedRecord record;
    record.kind = row.kind;
    if (row.hasTimestamp)
        record.timestamp = row.timestamp;
    record.code = row.code;
    record.name = row.Name();
    record.text = row.Text();
    return record;
}

void CDecodedRecordModel::Append(std::vector<decode::DecodedRecord>&& records)
{
    Append(std::span<const decode::DecodedRecord>(records));
    records.clear();
}

void CDecodedRecordModel::Append(std::span<const decode::DecodedRecord> records)
{
    for (const decode::DecodedRecord& record : records) {
        m_pending.push_back(MakeRow(record));
        m_pendingBytes += m_pending.back().Bytes();
    }
    TrimPending();
    Schedule();
}

void CDecodedRecordModel::TrimPending()
{
    // What could not be shown anyway goes now, so a stalled window holds no
    // more queued than the caps allow. The newest row stays, however long.
    std::size_t excess = m_pending.size() > m_maxRows ? m_pending.size() - m_maxRows : 0;
    std::size_t bytes = m_pendingBytes;
    for (std::size_t i = 0; i < excess; ++i)
        bytes -= m_pending[i].Bytes();
    while (excess + 1 < m_pending.size() && bytes > m_maxBytes)
        bytes -= m_pending[excess++].Bytes();
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(excess));
    m_pendingBytes = bytes;
    m_dropped += excess;
}

void CDecodedRecordModel::Schedule()
{
    if (m_flushTimer.isActive() || m_pending.empty())
        return;
    // The next pass of the event loop, or later when the last batch was recent.
    const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : kMinFlushMs;
    m_flushTimer.start(static_cast<int>(std::max<qint64>(0, kMinFlushMs - since)));
}

void CDecodedRecordModel::Flush()
{
    m_flushTimer.stop();
    if (m_pending.empty())
        return;
    m_sinceFlush.start();
    // The oldest held rows that leave room for the queued ones under both caps.
    std::size_t drop = m_rows.size() + m_pending.size() > m_maxRows ? m_rows.size() + m_pending.size() - m_maxRows : 0;
    std::size_t bytes = m_heldBytes + m_pendingBytes;
    for (std::size_t i = 0; i < drop; ++i)
        bytes -= m_rows[i].Bytes();
    while (drop < m_rows.size() && bytes > m_maxBytes)
        bytes -= m_rows[drop++].Bytes();
    if (drop > 0)
        DropOldest(drop);
    m_heldBytes += m_pendingBytes;
    m_pendingBytes = 0;

    std::vector<std::uint64_t> accepted;
    for (Row& row : m_pending) {
        const std::uint64_t seq = m_firstSeq + m_rows.size();
        if (Accepts(row))
            accepted.push_back(seq);
        m_rows.push_back(std::move(row));
    }
    m_pending.clear();
    if (accepted.empty())
        return;
    const int first = static_cast<int>(m_shown.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(accepted.size()) - 1);
    m_shown.insert(m_shown.end(), accepted.begin(), accepted.end());
    endInsertRows();
}

void CDecodedRecordModel::DropOldest(std::size_t count)
{
    count = std::min(count, m_rows.size());
    const std::uint64_t keptFrom = m_firstSeq + count;
    const auto shownGone = static_cast<std::size_t>(
        std::lower_bound(m_shown.begin(), m_shown.end(), keptFrom) - m_shown.begin());
    if (shownGone > 0)
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(shownGone) - 1);
    m_shown.erase(m_shown.begin(), m_shown.begin() + static_cast<std::ptrdiff_t>(shownGone));
    for (std::size_t i = 0; i < count; ++i)
        m_heldBytes -= m_rows[i].Bytes();
    m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(count));
    m_firstSeq = keptFrom;
    m_dropped += count;
    if (shownGone > 0)
        endRemoveRows();
}

void CDecodedRecordModel::Clear()
{
    m_flushTimer.stop();
    beginResetModel();
    m_pending.clear();
    m_pendingBytes = 0;
    m_firstSeq += m_rows.size();
    m_rows.clear();
    m_heldBytes = 0;
    m_shown.clear();
    m_dropped = 0;
    endResetModel();
}

bool CDecodedRecordModel::Accepts(const Row& row) const
{
    if (!(m_kindMask & KindBit(row.kind)))
        return false;
    if (m_needle.empty())
        return true;
    if (ContainsIgnoringCase(row.Name(), m_needle) || ContainsIgnoringCase(row.Text(), m_needle))
        return true;
    decode::DecodedRecord codeOnly;
    codeOnly.kind = row.kind;
    codeOnly.code = row.code;
    return ContainsIgnoringCase(decode::CodeText(codeOnly), m_needle);
}

void CDecodedRecordModel::SetFilter(const QString& text, unsigned kindMask)
{
    if (text == m_filterText && kindMask == m_kindMask)
        return;
    m_filterText = text;
    m_needle = text.toStdString();
    std::transform(m_needle.begin(), m_needle.end(), m_needle.begin(), LowerAscii);
    m_kindMask = kindMask & kAllKinds;
    beginResetModel();
    RebuildShown();
    endResetModel();
}

void CDecodedRecordModel::RebuildShown()
{
    m_shown.clear();
    std::uint64_t seq = m_firstSeq;
    for (const Row& row : m_rows) {
        if (Accepts(row))
            m_shown.push_back(seq);
        ++seq;
    }
}

decode::DecodedRecord CDecodedRecordModel::Record(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return ToRecord(ShownRow(row));
}

std::string CDecodedRecordModel::Line(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return decode::FormatRecordLine(ToRecord(ShownRow(row)));
}

int CDecodedRecordModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int CDecodedRecordModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant CDecodedRecordModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& row = ShownRow(index.row());
    const int column = index.column();
    if (role == Qt::FontRole)
        return column == ColText || column == ColTime || column == ColCode ? QVariant(m_fixedFont) : QVariant();
    if (role == Qt::ToolTipRole && column == ColText && row.textLength > 0)
        return OneLine(row.Text());
    if (role != Qt::DisplayRole)
        return {};
    switch (column) {
    case ColTime: return row.hasTimestamp ? QString::fromStdString(decode::TimeOfDay(row.timestamp)) : QString();
    case ColKind: return QString::fromLatin1(decode::KindName(row.kind));
    case ColCode: {
        decode::DecodedRecord codeOnly;
        codeOnly.kind = row.kind;
        codeOnly.code = row.code;
        return QString::fromStdString(decode::CodeText(codeOnly));
    }
    case ColName: return OneLine(row.Name());
    case ColText: return OneLine(row.Text());
    default: return {};
    }
}

QVariant CDecodedRecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColTime: return QStringLiteral("Time");
    case ColKind: return QStringLiteral("Kind");
    case ColCode: return QStringLiteral("Code");
    case ColName: return QStringLiteral("Name");
    case ColText: return QStringLiteral("Text");
    default: return {};
    }
}
