// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CDecodedRecordModel: the decoded view's rows. Records are queued by Append
// and taken in by a timer at most 30 times a second, each batch with one
// insertion, so a flood costs the window one layout per batch, not one per
// record. The newest kMaxRows are kept; older ones are dropped from the top.
// The rows' names and texts together hold at most kMaxTextBytes as well, so
// a flood of long texts (malformed records' bytes in hex) drops older rows
// sooner instead of growing the window without bound.
//
// A row is compact: the modem's time, kind and code as numbers, and the name
// and text in one allocation; cell strings are made only for rows on screen.
// The filter (text and kinds) is an index of the shown rows' sequence
// numbers, rebuilt by one pass when the filter changes and extended as rows
// arrive. Everything here runs on the window's thread.
#include "decode/DiagRecord.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QFont>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CDecodedRecordModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { ColTime, ColKind, ColCode, ColName, ColText, kColumns };
    static constexpr std::size_t kMaxRows = 100000;
    static constexpr std::size_t kMaxTextBytes = std::size_t{32} << 20;   // about 330 bytes a row at the row cap
    static constexpr int kMinFlushMs = 33;
    // One bit per decode::RecordKind.
    static constexpr unsigned KindBit(decode::RecordKind kind) { return 1u << static_cast<unsigned>(kind); }
    static constexpr unsigned kAllKinds = (1u << (static_cast<unsigned>(decode::RecordKind::Malformed) + 1)) - 1;

    explicit CDecodedRecordModel(QObject* parent = nullptr, std::size_t maxRows = kMaxRows,
                                 std::size_t maxTextBytes = kMaxTextBytes);
    ~CDecodedRecordModel() override;

    // Queues records; they are shown by the next flush (at most kMinFlushMs
    // after the last one). Past the caps queued, the oldest queued go.
    void Append(std::vector<decode::DecodedRecord>&& records);
    // The same, copying: the caller keeps its records (and their storage) for the next batch.
    void Append(std::span<const decode::DecodedRecord> records);
    // Shows what is queued now.
    void Flush();
    bool HasPending() const { return !m_pending.empty(); }
    // Drops every row, shown and queued.
    void Clear();

    // Rows whose name, text or code contain text (case ignored in ASCII), of
    // the kinds in kindMask.
    void SetFilter(const QString& text, unsigned kindMask);
    QString FilterText() const { return m_filterText; }
    unsigned KindMask() const { return m_kindMask; }

    // Shown row -> the record as decoded (the multi-SIM radio id is not kept).
    decode::DecodedRecord Record(int row) const;
    // Shown row -> decode::FormatRecordLine.
    std::string Line(int row) const;
    // Rows held (shown or not), and rows dropped for room since the last Clear.
    std::size_t HeldRows() const { return m_rows.size(); }
    std::size_t HeldTextBytes() const { return m_heldBytes; }
    std::uint64_t DroppedRows() const { return m_dropped; }
    std::size_t MaxRows() const { return m_maxRows; }

    void SetFixedFont(const QFont& font) { m_fixedFont = font; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        std::uint64_t timestamp = 0;
        std::uint32_t code = 0;
        std::uint32_t textLength = 0;
        std::uint16_t nameLength = 0;
        decode::RecordKind kind = decode::RecordKind::Malformed;
        bool hasTimestamp = false;
        std::unique_ptr<char[]> chars;   // name, then text
        std::string_view Name() const { return {chars.get(), nameLength}; }
        std::string_view Text() const { return {chars.get() + nameLength, textLength}; }
        std::size_t Bytes() const { return std::size_t{nameLength} + textLength; }
    };
    static Row MakeRow(const decode::DecodedRecord& record);
    static decode::DecodedRecord ToRecord(const Row& row);
    bool Accepts(const Row& row) const;
    void Schedule();
    void TrimPending();
    void DropOldest(std::size_t count);
    void RebuildShown();
    const Row& ShownRow(int row) const { return m_rows[m_shown[static_cast<std::size_t>(row)] - m_firstSeq]; }

    std::size_t m_maxRows;
    std::size_t m_maxBytes;
    std::size_t m_heldBytes = 0;         // names and texts of m_rows
    std::size_t m_pendingBytes = 0;      // names and texts of m_pending
    std::deque<Row> m_rows;              // held rows, oldest first
    std::uint64_t m_firstSeq = 0;        // sequence number of m_rows.front()
    std::deque<std::uint64_t> m_shown;   // sequence numbers of the rows the filter lets through
    std::deque<Row> m_pending;           // queued, not flushed yet
    std::uint64_t m_dropped = 0;
    QString m_filterText;
    std::string m_needle;                // m_filterText in UTF-8, ASCII lower case
    unsigned m_kindMask = kAllKinds;
    QFont m_fixedFont;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
};
