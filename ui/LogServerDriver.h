// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CLogServerDriver: the Log server mode of the window. It asks for the log to
// replay and holds it while it is written, and keeps the canned replies of the
// requests received until they go out, one queued call each, after the
// hand-over that brought the request. The Log server session
// (logserver/LogServerSession.h) holds the state; this part adds the prompts
// and the queued calls.
//
// Window thread only; OnReceived runs inside the port's hand-over.
#include "dm/FramedWriter.h"
#include "logserver/LogServerSession.h"
#include "ui/Prompts.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

class CLogServerDriver : public QObject {
    Q_OBJECT

public:
    using ReplyHandler = std::function<void(std::vector<std::uint8_t>)>;
    using ReplayHandler = std::function<void(std::int64_t size)>;

    explicit CLogServerDriver(IPrompts& prompts, QObject* parent = nullptr);

    // Where a queued reply goes when its turn comes (the window's WM_SEND_REPLY).
    void OnReplyReady(ReplyHandler handler) { m_onReply = std::move(handler); }

    // "Send Log...": asks for the file, loads it and hands its size to replay
    // (the window's WM_SEND_LOG, a direct call); the data is freed afterwards.
    void LoadLogFile(const ReplayHandler& replay);
    // Writes the loaded log raw, 1024 bytes at a time, up to size bytes; false
    // when the peer stopped taking it.
    bool Replay(IByteWriter& port, std::int64_t size);
    // Inside the hand-over: a request chunk whose reply goes out later.
    void OnReceived(std::span<const std::uint8_t> chunk);
    // Frames and writes a reply, unless a replay runs.
    void SendReply(std::span<const std::uint8_t> reply, IByteWriter& port);

    CLogServerSession& Session() { return m_session; }

private:
    void SendQueuedReply();

    IPrompts& m_prompts;
    CLogServerSession m_session;
    ReplyHandler m_onReply;
};
