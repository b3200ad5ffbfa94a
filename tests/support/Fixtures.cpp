// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace fixture {

namespace {

template <typename T, typename Format>
std::string Join(const std::vector<T>& items, Format format)
{
    std::string text;
    for (const T& item : items) {
        if (!text.empty())
            text += ',';
        text += format(item);
    }
    return text;
}

std::string Printed(const char* format, int a, int b = 0)
{
    std::array<char, 32> buf{};
    std::snprintf(buf.data(), buf.size(), format, a, b);
    return buf.data();
}

DmcLists MakeLoggingView()
{
    DmcLists lists;
    // One descending run every 32 ids, then a second, shorter run: the
    // highest id sits inside the list, and its last entry is the lowest.
    for (int id = 3264; id >= 288; id -= 32)
        lists.eventIds.push_back(id);
    lists.eventIds.insert(lists.eventIds.end(), {3277, 2049, 287});
    // Equipment ids 0xD, 0xB, 7, 5, 4 and 1 between the two lists.
    lists.logCodes = {0xD124, 0xD114, 0xD0E4, 0xD004, 0xB974, 0xB0C0, 0x7B3A, 0x5230, 0x1FFF, 0x1375, 0x1000};
    lists.otaTypes = {0xB821, 0x713A, 0x5226, 0x412F, 0x138D, 0x1078};
    // Every ssid with the levels 04 down to 01, ssids descending across
    // several 51-wide message ranges.
    for (int ssid : {10374, 10366, 10358, 10350, 10300, 5011, 5010, 5000, 4000, 3001, 3000, 2000, 1000, 500, 20, 0})
        for (int level = 4; level >= 1; --level)
            lists.messageLevels.emplace_back(ssid, level);
    return lists;
}

// One ISVConfig block with the elements the logging tool always writes.
std::string IsvConfig(const std::string& indent, const std::string& items, const std::string& events,
                      const std::string& codes, const std::string& ota, const std::string& levels)
{
    auto element = [&](const char* name, const std::string& text) {
        return indent + " <" + name + (text.empty() ? "/>\n" : ">" + text + "</" + name + ">\n");
    };
    std::string out = indent + "<ISVConfig>\n";
    out += element("Items", items);
    for (const char* empty : {"DIAGRequests", "DIAGResponses", "SubsystemRequests", "SubsystemResponses",
                              "SubsystemV2Requests", "SubsystemV2ImmediateResponses", "SubsystemV2DelayedResponses"})
        out += element(empty, "");
    out += element("EventIDs", events);
    out += element("LogCodes", codes);
    out += element("OTATypes", ota);
    out += element("MessageLevels", levels);
    out += element("StringTypes", "");
    out += element("QTraces", levels.empty() ? "" : "113/1,113/0,109/1,109/0,105/3");
    out += element("QSHMetrics", "");
    out += element("QSHEvents", "");
    return out + indent + "</ISVConfig>\n";
}

}   // namespace

const DmcLists& SavedLoggingView()
{
    static const DmcLists lists = MakeLoggingView();
    return lists;
}

std::string EventIdsText(const DmcLists& lists)
{
    return Join(lists.eventIds, [](int id) { return Printed("%05d", id); });
}

std::string LogCodesText(const DmcLists& lists)
{
    return Join(lists.logCodes, [](int code) { return Printed("0x%04X", code); });
}

std::string OtaTypesText(const DmcLists& lists)
{
    return Join(lists.otaTypes, [](int code) { return Printed("0x%04X", code); });
}

std::string MessageLevelsText(const DmcLists& lists)
{
    return Join(lists.messageLevels, [](const std::pair<int, int>& l) { return Printed("%d/%02d", l.first, l.second); });
}

std::string SavedDmc()
{
    const DmcLists& saved = SavedLoggingView();
    // The display views keep lists of their own that the tool must not read.
    DmcLists display = saved;
    display.eventIds = {3246, 3214, 3182, 1};
    const auto full = [](const std::string& indent, const std::string& items, const DmcLists& l) {
        return IsvConfig(indent, items, EventIdsText(l), LogCodesText(l), OtaTypesText(l), MessageLevelsText(l));
    };
    std::string doc = "<QXDMProfessional>\n <Persistence>\n  <Displays>\n";
    for (const char* name : {"Display1", "Display2"}) {
        doc += std::string("   <") + name + ">\n    <Type>Item View</Type>\n    <View>\n";
        doc += full("     ", "3,4,5,6,8", display);
        doc += std::string("    </View>\n   </") + name + ">\n";
    }
    doc += "  </Displays>\n  <LoggingView>\n";
    doc += full("   ", "3,4,5,6,8", saved);
    doc += "   <RestartOnDisconnect>0</RestartOnDisconnect>\n"
           "   <LogFilePath>C:\\Users\\Admin\\AppData\\Local\\Temp/QXDM/ISF</LogFilePath>\n";
    doc += "  </LoggingView>\n  <MessagesView>\n";
    doc += IsvConfig("   ", "5", "", kSavedMessagesViewLogCodes, "", "");
    doc += "  </MessagesView>\n  <BuildVersion>5.1.310</BuildVersion>\n  <FixedFontFace/>\n"
           " </Persistence>\n</QXDMProfessional>\n";
    return doc;
}

Capture ModemCapture(int frames, unsigned seed)
{
    std::mt19937 rng(seed);
    constexpr std::array<std::uint16_t, 5> kCodes = {0xB0C0, 0xB0E3, 0x1375, 0x412F, 0xB821};
    Capture capture;
    for (int k = 0; k < frames; ++k) {
        const std::size_t payload = 20 + rng() % 280;
        const std::size_t item = 12 + payload;   // length, code, timestamp, payload
        Bytes p = {0x10, 0x00, static_cast<std::uint8_t>(item & 0xFF), static_cast<std::uint8_t>(item >> 8),
                   static_cast<std::uint8_t>(item & 0xFF), static_cast<std::uint8_t>(item >> 8)};
        const std::uint16_t code = kCodes[static_cast<std::size_t>(k) % kCodes.size()];
        p.push_back(static_cast<std::uint8_t>(code & 0xFF));
        p.push_back(static_cast<std::uint8_t>(code >> 8));
        const std::uint64_t stamp = 0x0000'0C35'0000'0000ULL + static_cast<std::uint64_t>(k) * 0x10000;
        for (int i = 0; i < 8; ++i)
            p.push_back(static_cast<std::uint8_t>(stamp >> (8 * i)));
        for (std::size_t i = 0; i < payload; ++i)
            p.push_back(static_cast<std::uint8_t>(rng() & 0xFF));
        // The first frame carries both escaped bytes in its payload; the
        // second is nudged until one of its FCS bytes needs an escape.
        if (k == 0) {
            p[20] = 0x7E;
            p[21] = 0x7D;
        }
        if (k == 1) {
            for (unsigned nudge = 0; nudge < 0x10000; ++nudge) {
                p[p.size() - 2] = static_cast<std::uint8_t>(nudge & 0xFF);
                p[p.size() - 1] = static_cast<std::uint8_t>(nudge >> 8);
                const std::uint16_t fcs = ReferenceFcs(p);
                const std::uint8_t lo = fcs & 0xFF, hi = fcs >> 8;
                if (lo == 0x7E || lo == 0x7D || hi == 0x7E || hi == 0x7D)
                    break;
            }
        }
        const Bytes frame = ReferenceFrame(p);
        capture.wire.insert(capture.wire.end(), frame.begin(), frame.end());
        capture.packets.push_back(std::move(p));
    }
    return capture;
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
}

void WriteBytes(const std::string& path, const std::string& text)
{
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::tm LocalTime(int month, int day, int hour, int minute, int second, int year)
{
    std::tm t{};
    t.tm_year = year;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

}   // namespace fixture
