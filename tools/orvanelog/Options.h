// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// orvane-log's command line: what to open, what to send, where to capture.
// Parsing is pure (no file or device is touched), so every refusal is a
// table row in the tests. Options are rows of one table (Options.cpp): a new
// option is a row and a field here.
#include "logclient/DmcReader.h"
#include "serial/Dcb.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct LogOptions {
    std::string port;               // "COM3" or a device path
    std::string dmcPath;            // empty: the eleven default packets
    std::string dir = ".";          // where captures are created
    DCB dcb = DefaultDcb();         // --settings applied to the window's defaults
    double durationSeconds = 0;     // 0: until a signal
    DmcListView view = DmcListView::MessagesView;   // where the four lists are read
    bool quiet = false;
    bool decode = false;            // --decode: each record a line on stdout, the status on stderr
    std::string readPath;           // --read: decode this capture instead of opening a port
    std::string qdbPath;            // --qdb: the message database for terse messages
    // Signalling as GSMTAP (tools/orvanelog/PcapOutput.h).
    std::string pcapPath;           // --pcap: into this pcap file
    bool gsmtap = false;            // --gsmtap: as UDP datagrams to host:port
    std::string gsmtapHost = "127.0.0.1";
    std::uint16_t gsmtapPort = 4729;
    bool gsmtapV3 = false;          // --gsmtap-v3: NR RRC as GSMTAP version 3 too
    bool defaults = false;          // --defaults was given
    bool leaveLogging = false;      // no stop-logging frames at a clean exit
    bool allowEmpty = false;        // a .dmc with no list at all is applied anyway
    std::uint64_t rotateSize = 0;   // a new capture after this many bytes; 0: never
    double rotateSeconds = 0;       // a new capture after this long; 0: never
    std::uint64_t keep = 0;         // at most this many captures of the run; 0: all
    std::uint64_t minFree = 0;      // free space the capture's filesystem keeps; 0: none
};

// The longest port name the port's name buffer holds; longer names are
// given as device paths.
inline constexpr std::size_t kMaxPortName = 14;

// Exit statuses of orvane-log.
enum : int {
    kExitClean = 0,
    kExitUsage = 1,
    kExitPort = 2,
    kExitDmc = 3,
    kExitFile = 3,      // also: the capture to --read or the --qdb database cannot be read
    kExitCapture = 4,
};

struct ParsedArgs {
    std::optional<LogOptions> options;   // set when the run is to go ahead
    int status = kExitClean;             // otherwise: exit with this status...
    std::string message;                 // ...after printing this (stdout for --help, else stderr)
};

extern const char* const kLogUsage;
// "orvane-log 0.3.1"
std::string VersionLine();

ParsedArgs ParseLogArgs(const std::vector<std::string>& args);

// The port a PORT word names. systemd's %f turns an instance into a path
// ("orvane-log@COM1" gives "/COM1"): a word "/NAME" with no further slash that
// names nothing on disk is the port name NAME.
std::string PortFromWord(const std::string& word);
