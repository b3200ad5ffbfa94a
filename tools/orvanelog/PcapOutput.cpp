// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/PcapOutput.h"

#include "decode/Gsmtap.h"

#include <filesystem>
#include "decode/GsmtapMessages.h"
#include "tools/orvanelog/DecodeOutput.h"
#include "tools/orvanelog/ReadCapture.h"

namespace {

// A word after --gsmtap is its target when it reads as a host: a name with a
// dot or colon, or localhost. A port name (COM1) or a device path is not.
bool LooksLikeTarget(const std::string& word)
{
    if (word.empty() || word[0] == '-' || word.find('/') != std::string::npos)
        return false;
    return word.find('.') != std::string::npos || word.find(':') != std::string::npos || word == "localhost";
}

}  // namespace

bool TakeGsmtapOption(const std::vector<std::string>& args, std::size_t& i, LogOptions& options, std::string& why)
{
    const std::string& arg = args[i];
    why.clear();
    if (arg == "--pcap") {
        std::string& value = options.pcapPath;
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            why = arg + " needs a file name";
            return true;
        }
        if (!value.empty())
            why = arg + " given twice";
        value = args[++i];
        return true;
    }
    if (arg != "--gsmtap" && arg.rfind("--gsmtap=", 0) != 0)
        return false;
    if (options.gsmtap) {
        why = "--gsmtap given twice";
        return true;
    }
    options.gsmtap = true;
    std::string target;
    if (arg.size() > 9)
        target = arg.substr(9);
    else if (i + 1 < args.size() && LooksLikeTarget(args[i + 1]))
        target = args[++i];
    decode::GsmtapTarget parsed;
    if (std::string error; !decode::ParseGsmtapTarget(target, parsed, &error)) {
        why = "--gsmtap: " + error;
        return true;
    }
    options.gsmtapHost = parsed.host;
    options.gsmtapPort = parsed.port;
    return true;
}

CGsmtapOutput::CGsmtapOutput(std::size_t maxQueuedBytes)
    : m_converter([this](std::span<const std::uint8_t> message, std::uint64_t timestamp) {
          // Called under m_lock, from Convert.
          if (m_pcap.IsOpen())
              m_pcap.Add(message, decode::gsmtap::DiagTimeToUnixMicros(timestamp));
          if (m_sender.IsOpen())
              m_sender.Queue(message);
      }),
      m_maxQueuedBytes(maxQueuedBytes)
{
}

CGsmtapOutput::~CGsmtapOutput()
{
    Stop();
}

bool CGsmtapOutput::Start(const LogOptions& options, std::string* error, Feeding feeding)
{
    std::lock_guard lock(m_lock);
    if (!options.pcapPath.empty()) {
        if (!m_pcap.Open(options.pcapPath, error)) {
            if (error)
                *error = options.pcapPath + ": " + *error;
            return false;
        }
        m_pcapPaths.push_back(options.pcapPath);
        m_writesPcap = true;
    }
    if (options.gsmtap) {
        if (!m_sender.Open({options.gsmtapHost, options.gsmtapPort}, error))
            return false;
        m_target = options.gsmtapHost + ":" + std::to_string(options.gsmtapPort);
    }
    m_converter.SetNrRrcAsGsmtapV3(options.gsmtapV3);
    m_active = m_pcap.IsOpen() || m_sender.IsOpen();
    if (m_active && feeding == Feeding::OwnThread)
        m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    return true;
}

void CGsmtapOutput::SetMessageFormatter(decode::CGsmtapConverter::MessageFormatter formatter)
{
    std::lock_guard lock(m_lock);
    m_converter.SetMessageFormatter(std::move(formatter));
}

void CGsmtapOutput::OnChunk(std::span<const std::uint8_t> chunk)
{
    if (!m_active)
        return;
    if (!m_thread.joinable()) {
        std::lock_guard lock(m_lock);
        Convert(chunk);
        return;
    }
    {
        std::lock_guard lock(m_queueLock);
        if (m_queuedBytes + chunk.size() > m_maxQueuedBytes) {
            // Behind: the capture keeps these bytes; the pcap and the
            // datagrams go on at the next chunk taken.
            m_skippedBytes += chunk.size();
            m_skipping = true;
            return;
        }
        if (std::exchange(m_skipping, false))
            m_queue.push_back({Queued::Kind::Break, {}, {}});
        m_queue.push_back({Queued::Kind::Bytes, {chunk.begin(), chunk.end()}, {}});
        m_queuedBytes += chunk.size();
    }
    m_queueWake.notify_one();
}

void CGsmtapOutput::OnCaptureClosed()
{
    if (m_thread.joinable()) {
        Enqueue({Queued::Kind::Break, {}, {}});
        return;
    }
    std::lock_guard lock(m_lock);
    CloseCapture();
}

bool CGsmtapOutput::Rotate(const std::string& pcapPath, std::string* error)
{
    if (m_thread.joinable()) {
        Enqueue({Queued::Kind::Rotate, {}, pcapPath});
        return true;
    }
    std::lock_guard lock(m_lock);
    return RotateNow(pcapPath, error);
}

void CGsmtapOutput::Enqueue(Queued item)
{
    {
        std::lock_guard lock(m_queueLock);
        m_queue.push_back(std::move(item));
    }
    m_queueWake.notify_one();
}

// The output thread: items in order until stopped with none left.
void CGsmtapOutput::Run(std::stop_token stop)
{
    std::unique_lock lock(m_queueLock);
    for (;;) {
        m_queueWake.wait(lock, stop, [this] { return !m_queue.empty(); });
        if (m_queue.empty())
            return;
        const Queued item = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= item.bytes.size();
        lock.unlock();
        {
            std::lock_guard outputs(m_lock);
            Handle(item);
        }
        lock.lock();
    }
}

// m_lock held.
void CGsmtapOutput::Handle(const Queued& item)
{
    switch (item.kind) {
    case Queued::Kind::Bytes: Convert(item.bytes); break;
    case Queued::Kind::Break: CloseCapture(); break;
    case Queued::Kind::Rotate: RotateNow(item.pcapPath, nullptr); break;
    }
}

// m_lock held.
void CGsmtapOutput::Convert(std::span<const std::uint8_t> chunk)
{
    m_converter.Feed(chunk);
    if (m_pcap.IsOpen())
        m_pcap.Flush();
    m_sender.Flush();
}

// m_lock held.
void CGsmtapOutput::CloseCapture()
{
    m_converter.Reset();
    if (m_pcap.IsOpen())
        m_pcap.Flush();
    m_sender.Flush();
}

// m_lock held.
bool CGsmtapOutput::RotateNow(const std::string& pcapPath, std::string* error)
{
    if (m_pcapPaths.empty())
        return true;
    m_pcap.Close();
    std::string why;
    if (!m_pcap.Open(pcapPath, &why)) {
        m_rotateError = pcapPath + ": " + why;
        if (error)
            *error = m_rotateError;
        return false;
    }
    m_pcapPaths.push_back(pcapPath);
    return true;
}

void CGsmtapOutput::Stop()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();   // the thread converts what is queued, then ends
        m_thread.join();
    }
    std::lock_guard lock(m_lock);
    m_converter.Finish();
    m_pcap.Close();
    m_sender.Close();
}

std::string CGsmtapOutput::Summary() const
{
    std::lock_guard lock(m_lock);
    if (!m_active)
        return {};
    const decode::GsmtapCounts& counts = m_converter.Counts();
    std::string text = "  GSMTAP: " + decode::DescribeGsmtapCounts(counts) + "\n";
    if (counts.nrRrcWithoutV3 != 0)
        text += "  GSMTAP: " + std::to_string(counts.nrRrcWithoutV3)
                + (counts.nrRrcWithoutV3 == 1 ? " NR RRC message" : " NR RRC messages")
                + " skipped: GSMTAP version 2 has no NR RRC; --gsmtap-v3 sends them as version 3\n";
    if (const std::uint64_t skipped = SkippedBytes(); skipped != 0)
        text += "  GSMTAP: " + std::to_string(skipped)
                + " bytes not converted while the port ran faster than the outputs (the capture has them;"
                  " --read CAPTURE --pcap OUT converts them)\n";
    for (const std::string& path : m_pcapPaths)
        text += "  pcap: " + path + "\n";
    if (!m_rotateError.empty())
        text += "  pcap stopped at a rotation: " + m_rotateError + "\n";
    if (!m_pcap.LastError().empty())
        text += "  pcap failed: " + m_pcap.LastError() + " (whole records kept)\n";
    if (!m_target.empty())
        text += "  UDP to " + m_target + ": " + std::to_string(m_sender.Sent()) + " datagrams"
                + (m_sender.Refused() ? ", " + std::to_string(m_sender.Refused()) + " refused" : "") + "\n";
    return text;
}

std::uint64_t CGsmtapOutput::SkippedBytes() const
{
    std::lock_guard lock(m_queueLock);
    return m_skippedBytes;
}

std::string RotatedPcapPath(const std::string& pcapPath, const std::string& capturePath)
{
    const std::filesystem::path pcap(pcapPath);
    const std::string stem = std::filesystem::path(capturePath).stem().string();
    return (pcap.parent_path() / (pcap.stem().string() + "-" + stem + pcap.extension().string())).string();
}

int RunRead(const LogOptions& options, std::FILE* out, std::FILE* err)
{
    if (options.pcapPath.empty() && !options.gsmtap)
        return ReadCapture(options, out, err);
    CGsmtapOutput gsmtap;
    std::string error;
    if (!gsmtap.Start(options, &error)) {
        std::fprintf(err, "orvane-log: %s\n", error.c_str());
        return kExitCapture;
    }
    std::shared_ptr<const decode::CMessageDatabase> database;
    if (!options.qdbPath.empty() && !(database = LoadMessageDatabase(options.qdbPath, &error))) {
        std::fprintf(err, "orvane-log: cannot load the message database %s\n", error.c_str());
        return kExitFile;
    }
    gsmtap.SetMessageFormatter(decode::DebugMessageFormatter(std::move(database)));
    ReadConsumer consumer;
    consumer.onBytes = [&gsmtap](std::span<const std::uint8_t> bytes) { gsmtap.OnChunk(bytes); };
    consumer.finish = [&gsmtap](std::string*) {
        gsmtap.Stop();
        return true;
    };
    consumer.summary = [&gsmtap] { return gsmtap.Summary(); };
    return ReadCapture(options, out, err, {std::move(consumer)});
}
