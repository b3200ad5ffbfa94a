// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// orvane-log's way into Wireshark: the signalling in what the modem sends,
// as GSMTAP, into a pcap file (--pcap FILE) and/or as UDP datagrams
// (--gsmtap [HOST[:PORT]]) while the capture runs, and the conversion of a
// capture that already exists (--read CAPTURE --pcap OUT).
#include "decode/GsmtapConverter.h"
#include "decode/GsmtapSender.h"
#include "decode/PcapWriter.h"
#include "tools/orvanelog/Options.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Reads one of --pcap FILE, --gsmtap[=HOST[:PORT]] [HOST[:PORT]] or --read
// FILE at args[i] (moving i past its value). false when args[i] is none of
// them; why is set when it is one of them but wrong.
bool TakeGsmtapOption(const std::vector<std::string>& args, std::size_t& i, LogOptions& options, std::string& why);

// The live outputs of one run. OnChunk runs on the port's reader thread; the
// rest on the loop's thread.
//
// Inline (--read): each chunk is converted, written and sent before OnChunk
// returns. On a thread of its own (a live run): OnChunk queues a copy and
// returns, so the capture never waits for the pcap or the network (a UDP
// datagram costs a few microseconds, and a signalling flood brings hundreds
// of thousands a second). Beyond kMaxQueuedBytes a chunk is not converted,
// counted; the capture still holds it, and --read converts it later.
class CGsmtapOutput {
public:
    enum class Feeding { Inline, OwnThread };
    static constexpr std::size_t kMaxQueuedBytes = std::size_t{32} << 20;

    explicit CGsmtapOutput(std::size_t maxQueuedBytes = kMaxQueuedBytes);
    ~CGsmtapOutput();
    CGsmtapOutput(const CGsmtapOutput&) = delete;
    CGsmtapOutput& operator=(const CGsmtapOutput&) = delete;

    // Opens the pcap file and the UDP socket the options ask for. false and why.
    bool Start(const LogOptions& options, std::string* error, Feeding feeding = Feeding::Inline);
    bool Active() const { return m_active; }
    // Set by Start, before the reader runs.
    bool WritesPcap() const { return m_writesPcap; }
    // Integration hook: the decoder's debug-message formatter, so the
    // modem's messages stand between the signalling as log lines.
    void SetMessageFormatter(decode::CGsmtapConverter::MessageFormatter formatter);
    // The modem's bytes as they arrive: whole records go out at once.
    void OnChunk(std::span<const std::uint8_t> chunk);
    // The capture closed (the device went): a frame torn there is not joined
    // to the next capture's first bytes.
    void OnCaptureClosed();
    // Capture rotation: the pcap goes on in a new file from here. Whole
    // records stay in the old one. false and why when the new one cannot be
    // made (on its own thread: told in the summary only). A pcap that cannot
    // be made is told in the summary; the signalling then stops going into files.
    bool Rotate(const std::string& pcapPath, std::string* error = nullptr);
    // Converts what is still queued, then closes the outputs.
    void Stop();
    // The summary's lines (each ending in a newline); empty when inactive.
    std::string Summary() const;
    // Bytes not converted because the queue was full (own thread only).
    std::uint64_t SkippedBytes() const;

private:
    // What the reader hands over, in order: bytes, a capture's end, a rotation.
    struct Queued {
        enum class Kind { Bytes, Break, Rotate } kind;   // Break: what follows does not continue what came before
        std::vector<std::uint8_t> bytes;
        std::string pcapPath;
    };
    void Enqueue(Queued item);
    void Handle(const Queued& item);
    void Run(std::stop_token stop);
    void Convert(std::span<const std::uint8_t> chunk);
    void CloseCapture();
    bool RotateNow(const std::string& pcapPath, std::string* error);

    mutable std::mutex m_lock;                 // the converter and the outputs
    decode::CGsmtapConverter m_converter;
    decode::CPcapWriter m_pcap;
    decode::CGsmtapSender m_sender;
    std::vector<std::string> m_pcapPaths;
    std::string m_target;
    std::string m_rotateError;
    bool m_active = false;
    bool m_writesPcap = false;

    const std::size_t m_maxQueuedBytes;
    mutable std::mutex m_queueLock;            // the queue and its counts
    std::condition_variable_any m_queueWake;
    std::deque<Queued> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_working = false;                    // the thread holds an item
    bool m_skipping = false;                   // the converter restarts at the next chunk taken
    std::uint64_t m_skippedBytes = 0;          // not converted: the queue was full
    std::jthread m_thread;                     // only with Feeding::OwnThread
};

// The pcap that goes with a rotated capture: "rrc.pcap" beside
// "/srv/12-07-18-30-00.bin" is "rrc-12-07-18-30-00.pcap", in the pcap's folder.
std::string RotatedPcapPath(const std::string& pcapPath, const std::string& capturePath);

// --read FILE: the capture decoded (ReadCapture), and with --pcap and/or
// --gsmtap its signalling and debug messages sent as GSMTAP too; the exit
// status, the summary on out (GSMTAP's lines after it), why on err.
int RunRead(const LogOptions& options, std::FILE* out, std::FILE* err);
