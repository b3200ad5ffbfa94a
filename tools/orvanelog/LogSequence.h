#pragma once
// The Log client's configuration as orvane-log sends it: the .dmc file's
// three steps, or the eleven default packets, one step per call, with the
// pause the window's timers keep between steps (100 ms) and the 10 ms the
// window sleeps between the packets of one step.
//
// This is a stand-in for the core Log client session until orvane-log is
// moved onto it; it drives the same core builders, reader and packet table
// the window drives, and frames and writes each packet as the window does.
#include "logclient/DmcReader.h"
#include "tools/orvanelog/Options.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

class CLogSequence {
public:
    // Writes one framed packet to the port (the window's FrameAndWrite write).
    using FrameWriter = std::function<void(std::span<const std::uint8_t>)>;
    // Tells the user what the reader reports (an empty document).
    using MessageSink = std::function<void(const std::string&)>;

    static constexpr std::chrono::milliseconds kStepPause{100};
    static constexpr std::chrono::milliseconds kPacketPause{10};

    CLogSequence(FrameWriter write, MessageSink message, ListView view);

    // Loads (or loads again) the .dmc file; false and why.
    bool Load(const std::string& path, std::string* error);
    // Starts from the first step: the file's lists when one is loaded, else
    // the default packets. The first step runs at the next Step().
    void Start();
    // Runs the due step. Returns the pause before the next, or nothing when
    // the sequence has ended.
    std::optional<std::chrono::milliseconds> Step();
    bool Running() const { return m_running; }

    // Packets written so far (framed), for the summary.
    std::uint64_t PacketsSent() const { return m_packets; }

private:
    void FrameAndWrite(std::span<const std::uint8_t> packet);
    bool ConfigStep();
    bool DefaultStep();

    FrameWriter m_write;
    MessageSink m_message;
    ListView m_view;
    CDmcReader m_reader;
    DmcDocument m_doc;
    bool m_haveDoc = false;
    bool m_running = false;
    std::uint32_t m_nStep = 0;
    std::uint64_t m_packets = 0;
};
