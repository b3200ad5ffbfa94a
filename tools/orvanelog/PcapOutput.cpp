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

CGsmtapOutput::CGsmtapOutput()
    : m_converter([this](std::span<const std::uint8_t> message, std::uint64_t timestamp) {
          // Called under m_lock, from OnChunk.
          if (m_pcap.IsOpen())
              m_pcap.Add(message, decode::gsmtap::DiagTimeToUnixMicros(timestamp));
          if (m_sender.IsOpen())
              m_sender.Send(message);
      })
{
}

bool CGsmtapOutput::Start(const LogOptions& options, std::string* error)
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
    std::lock_guard lock(m_lock);
    m_converter.Feed(chunk);
    if (m_pcap.IsOpen())
        m_pcap.Flush();
}

void CGsmtapOutput::OnCaptureClosed()
{
    std::lock_guard lock(m_lock);
    m_converter.Reset();
    if (m_pcap.IsOpen())
        m_pcap.Flush();
}

bool CGsmtapOutput::Rotate(const std::string& pcapPath, std::string* error)
{
    std::lock_guard lock(m_lock);
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
