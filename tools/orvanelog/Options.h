#pragma once
// orvane-log's command line: what to open, what to send, where to capture.
// Parsing is pure (no file or device is touched), so every refusal is a
// table row in the tests.
#include "logclient/DmcReader.h"
#include "serial/Dcb.h"

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

ParsedArgs ParseLogArgs(const std::vector<std::string>& args);

// "BAUD[,BITS,PARITY,STOP]" onto dcb: PARITY is N, O, E, M or S, STOP 1, 1.5
// or 2. Only the form is checked here; whether Linux can express the
// combination is the port's refusal at open, as in the window. Empty on
// success, else why.
std::string ApplySettings(const std::string& text, DCB& dcb);
