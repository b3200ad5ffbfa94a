#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/PcapOutput.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

const char* const kLogUsage =
    "Usage: orvane-log PORT [--dmc FILE | --defaults] [--dir DIR]\n"
    "                  [--settings BAUD[,BITS,PARITY,STOP]] [--duration SECONDS]\n"
    "                  [--view messages|logging] [--quiet] [--decode [--qdb FILE]]\n"
    "                  [--pcap FILE] [--gsmtap [HOST[:PORT]]]\n"
    "       orvane-log --read FILE [--decode] [--qdb FILE] [--pcap OUT] [--gsmtap [HOST[:PORT]]]\n"
    "       orvane-log --help\n"
    "\n"
    "Switches a modem's diagnostic logging on through its DM port and captures\n"
    "every byte the modem sends, as Orvane's Log client does, without a window.\n"
    "\n"
    "  PORT              COM1 to COM60 (through the port directory\n"
    "                    $ORVANE_PORT_DIR, default ~/.config/orvane/ports, then\n"
    "                    COM1-20 /dev/ttyUSB0-19, COM21-40 /dev/ttyACM0-19,\n"
    "                    COM41-60 /dev/ttyS0-19) or a device path\n"
    "  --dmc FILE        apply the lists of a .dmc configuration in three steps\n"
    "  --defaults        send the eleven built-in packets (the default)\n"
    "  --dir DIR         create captures MM-DD-hh-mm-ss.bin in DIR (default: .)\n"
    "  --settings S      115200,8,N,1 is the default; PARITY is N, O, E, M or S,\n"
    "                    STOP is 1, 1.5 or 2\n"
    "  --duration N      stop cleanly after N seconds\n"
    "  --view V          messages: lists under MessagesView (the default);\n"
    "                    logging: lists under LoggingView\n"
    "  --quiet           a status line every 10 s instead of a live one\n"
    "  --decode          each record the modem sends as one line on standard\n"
    "                    output (time, kind, code, name, text); the status line\n"
    "                    goes to standard error\n"
    "  --read FILE       decode a capture or .qmdl already on disk, without a\n"
    "                    port, and print its summary\n"
    "  --qdb FILE        the modem's message database (QShrink .qdb or hash\n"
    "                    file) for its terse debug messages\n"
    "  --pcap FILE       write the signalling (LTE/NR RRC, NAS, WCDMA RRC, GSM RR)\n"
    "                    as GSMTAP into a pcap file for Wireshark, as it arrives\n"
    "  --gsmtap [H[:P]]  send it as GSMTAP over UDP (default 127.0.0.1:4729)\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP stop cleanly. When the device goes away the\n"
    "capture is closed, the port is waited for, and on its return a new\n"
    "capture starts and the configuration is sent again.\n"
    "\n"
    "Exit status: 0 clean stop, 1 bad arguments, 2 the port cannot be opened,\n"
    "3 the .dmc file (or the file to --read, or the --qdb database) cannot be\n"
    "loaded, 4 the capture cannot be created or written.\n";

namespace {

bool ParseUnsigned(const std::string& text, unsigned long& value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0;
}

ParsedArgs Usage(const std::string& why)
{
    ParsedArgs parsed;
    parsed.status = kExitUsage;
    parsed.message = "orvane-log: " + why + "\n\n" + kLogUsage;
    return parsed;
}

}  // namespace

std::string ApplySettings(const std::string& text, DCB& dcb)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (fields.size() != 1 && fields.size() != 4)
        return "--settings takes BAUD or BAUD,BITS,PARITY,STOP, not \"" + text + "\"";
    unsigned long baud = 0;
    if (!ParseUnsigned(fields[0], baud) || baud > 0xFFFFFFFFul)
        return "--settings: \"" + fields[0] + "\" is not a baud rate";
    DCB next = dcb;
    next.BaudRate = static_cast<std::uint32_t>(baud);
    if (fields.size() == 4) {
        unsigned long bits = 0;
        if (!ParseUnsigned(fields[1], bits) || bits > 255)
            return "--settings: \"" + fields[1] + "\" is not a number of data bits";
        next.ByteSize = static_cast<std::uint8_t>(bits);
        static constexpr struct { char letter; std::uint8_t parity; } kParities[] = {
            {'N', NOPARITY}, {'O', ODDPARITY}, {'E', EVENPARITY}, {'M', MARKPARITY}, {'S', SPACEPARITY}};
        bool found = false;
        for (const auto& p : kParities)
            if (fields[2].size() == 1 && (fields[2][0] == p.letter || fields[2][0] == p.letter + ('a' - 'A'))) {
                next.Parity = p.parity;
                found = true;
            }
        if (!found)
            return "--settings: parity \"" + fields[2] + "\" is not N, O, E, M or S";
        if (fields[3] == "1")
            next.StopBits = ONESTOPBIT;
        else if (fields[3] == "1.5")
            next.StopBits = ONE5STOPBITS;
        else if (fields[3] == "2")
            next.StopBits = TWOSTOPBITS;
        else
            return "--settings: stop bits \"" + fields[3] + "\" are not 1, 1.5 or 2";
    }
    dcb = next;
    return {};
}

namespace {

// The options that may stand once each on a command line.
struct SeenOptions {
    bool dir = false, settings = false, duration = false, view = false, read = false, qdb = false;
};

bool TakesValue(const std::string& arg)
{
    return arg == "--dmc" || arg == "--dir" || arg == "--settings" || arg == "--duration" || arg == "--view"
           || arg == "--read" || arg == "--qdb";
}

// Reads --duration's seconds into options; returns why they are refused, or nothing.
std::string ApplyDuration(const std::string& value, LogOptions& options)
{
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e9)
        return "--duration takes a number of seconds above 0, not \"" + value + "\"";
    options.durationSeconds = seconds;
    return {};
}

std::string ApplyView(const std::string& value, LogOptions& options)
{
    if (value == "messages")
        options.view = DmcListView::MessagesView;
    else if (value == "logging")
        options.view = DmcListView::LoggingView;
    else
        return "--view takes messages or logging, not \"" + value + "\"";
    return {};
}

// Applies one option that takes a value. A bad value is reported before a
// repeat, so the message names what is wrong with the word just read.
std::string ApplyValueOption(const std::string& arg, const std::string& value, LogOptions& options,
                             SeenOptions& seen)
{
    bool repeated = false;
    std::string why;
    if (arg == "--dmc") {
        repeated = !options.dmcPath.empty();
        if (value.empty())
            return "--dmc needs a file name";
        options.dmcPath = value;
    } else if (arg == "--read" || arg == "--qdb") {
        repeated = std::exchange(arg == "--read" ? seen.read : seen.qdb, true);
        if (value.empty())
            return arg + " needs a file name";
        (arg == "--read" ? options.readPath : options.qdbPath) = value;
    } else if (arg == "--dir") {
        repeated = std::exchange(seen.dir, true);
        if (value.empty())
            return "--dir needs a directory";
        options.dir = value;
    } else if (arg == "--settings") {
        repeated = std::exchange(seen.settings, true);
        why = ApplySettings(value, options.dcb);
    } else if (arg == "--duration") {
        repeated = std::exchange(seen.duration, true);
        why = ApplyDuration(value, options);
    } else {
        repeated = std::exchange(seen.view, true);
        why = ApplyView(value, options);
    }
    if (!why.empty())
        return why;
    if (repeated)
        return arg + " given twice";
    return {};
}

// What the whole command line must hold once every word is read.
std::string CheckComplete(const LogOptions& options, bool defaults)
{
    if (!options.readPath.empty()) {
        if (!options.port.empty())
            return "--read decodes a file without a port; \"" + options.port + "\" is not used with it";
        return {};
    }
    if (options.port.empty())
        return "which port? (e.g. COM1 or /dev/ttyUSB0)";
    // A name (not a path) goes into the port's 14-character name buffer.
    if (options.port.find('/') == std::string::npos && options.port.size() > kMaxPortName)
        return "port name \"" + options.port + "\" is longer than " + std::to_string(kMaxPortName)
               + " characters; give its device path";
    if (defaults && !options.dmcPath.empty())
        return "--dmc and --defaults exclude each other";
    return {};
}

}  // namespace

ParsedArgs ParseLogArgs(const std::vector<std::string>& args)
{
    LogOptions options;
    bool defaults = false;
    SeenOptions seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            ParsedArgs parsed;
            parsed.message = kLogUsage;
            return parsed;
        }
        if (arg == "--defaults") {
            defaults = true;
            continue;
        }
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (arg == "--decode") {
            options.decode = true;
            continue;
        }
        if (std::string why; TakeGsmtapOption(args, i, options, why)) {
            if (!why.empty())
                return Usage(why);
            continue;
        }
        if (TakesValue(arg)) {
            if (i + 1 >= args.size())
                return Usage(arg + " needs a value");
            if (std::string why = ApplyValueOption(arg, args[++i], options, seen); !why.empty())
                return Usage(why);
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return Usage("unknown option \"" + arg + "\"");
        if (!options.port.empty())
            return Usage("one port only (\"" + options.port + "\" and \"" + arg + "\")");
        options.port = arg;
    }
    if (std::string why = CheckComplete(options, defaults); !why.empty())
        return Usage(why);
    ParsedArgs parsed;
    parsed.options = options;
    return parsed;
}
