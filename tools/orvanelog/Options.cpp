// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/PcapOutput.h"

#include "tools/orvanelog/OptionValues.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <utility>

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "unknown"
#endif

const char* const kLogUsage =
    "Usage: orvane-log PORT [--dmc FILE [--allow-empty] | --defaults] [--dir DIR]\n"
    "                  [--settings BAUD[,BITS,PARITY,STOP]] [--duration SECONDS]\n"
    "                  [--view messages|logging] [--quiet] [--leave-logging]\n"
    "                  [--rotate-size SIZE] [--rotate-time TIME] [--keep N]\n"
    "                  [--min-free SIZE] [--decode [--qdb FILE]]\n"
    "                  [--pcap FILE] [--gsmtap [HOST[:PORT]]] [--gsmtap-v3]\n"
    "       orvane-log --read FILE [--decode] [--qdb FILE] [--pcap OUT] [--gsmtap [HOST[:PORT]]]\n"
    "                  [--gsmtap-v3]\n"
    "       orvane-log --help | --version\n"
    "\n"
    "Switches a modem's diagnostic logging on through its DM port and captures\n"
    "every byte the modem sends, as Orvane's Log client does, without a window.\n"
    "\n"
    "  PORT              COM1 to COM60 (through the port directory\n"
    "                    $ORVANE_PORT_DIR, default ~/.config/orvane/ports, then\n"
    "                    COM1-20 /dev/ttyUSB0-19, COM21-40 /dev/ttyACM0-19,\n"
    "                    COM41-60 /dev/ttyS0-19) or a device path\n"
    "  --dmc FILE        apply the lists of a .dmc configuration in three steps\n"
    "  --allow-empty     apply a .dmc file that has no list under either view\n"
    "  --defaults        send the eleven built-in packets (the default)\n"
    "  --dir DIR         create captures MM-DD-hh-mm-ss.bin in DIR (default: .)\n"
    "  --settings S      115200,8,N,1 is the default; PARITY is N, O, E, M or S,\n"
    "                    STOP is 1, 1.5 or 2\n"
    "  --duration N      stop cleanly after N seconds\n"
    "  --view V          messages: lists under MessagesView (the default);\n"
    "                    logging: lists under LoggingView\n"
    "  --quiet           a status line every 10 s instead of a live one\n"
    "  --leave-logging   leave the modem logging at the end (no stop frames)\n"
    "  --rotate-size SIZE  go on in a new capture after SIZE bytes (k, M, G)\n"
    "  --rotate-time TIME  go on in a new capture after TIME (s, m, h)\n"
    "  --keep N          keep only the N newest captures of this run\n"
    "  --min-free SIZE   delete this run's oldest capture while the disk has\n"
    "                    less than SIZE free; stop when none is left\n"
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
    "  --gsmtap-v3       NR RRC too, as GSMTAP version 3 (Wireshark reads it with\n"
    "                    the GSMTAPv3 Lua plugin of the open DIAG clients); without\n"
    "                    it NR RRC is counted as skipped\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP stop cleanly: the modem's logging is switched\n"
    "off (unless --leave-logging) and its last replies captured. When the device\n"
    "goes away the capture is closed, the port is waited for, and on its return\n"
    "a new capture starts and the configuration is sent again.\n"
    "\n"
    "Exit status: 0 clean stop, 1 bad arguments, 2 the port cannot be opened,\n"
    "3 the .dmc file (or the file to --read, or the --qdb database) cannot be\n"
    "loaded, 4 the capture cannot be created or written, or the disk floor\n"
    "cannot be kept.\n";

std::string VersionLine()
{
    return std::string("orvane-log ") + ORVANE_VERSION;
}

namespace {

ParsedArgs Usage(const std::string& why)
{
    ParsedArgs parsed;
    parsed.status = kExitUsage;
    parsed.message = "orvane-log: " + why + "\nTry 'orvane-log --help' for more information.\n";
    return parsed;
}

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

using Apply = std::string (*)(const std::string& value, LogOptions& options);

// One row per option. A row without apply is a flag (set); the rest take a value.
struct OptionRow {
    const char* name;
    Apply apply;
    bool LogOptions::*flag;
};

const std::array<OptionRow, 19>& OptionTable()
{
    static const std::array<OptionRow, 19> kRows{{
        {"--dmc", [](const std::string& v, LogOptions& o) -> std::string {
             o.dmcPath = v;
             return v.empty() ? "--dmc needs a file name" : "";
         }, nullptr},
        {"--dir", [](const std::string& v, LogOptions& o) -> std::string {
             o.dir = v;
             return v.empty() ? "--dir needs a directory" : "";
         }, nullptr},
        {"--settings", [](const std::string& v, LogOptions& o) { return ApplySettings(v, o.dcb); }, nullptr},
        {"--duration", ApplyDuration, nullptr},
        {"--view", ApplyView, nullptr},
        {"--rotate-size", [](const std::string& v, LogOptions& o) { return ParseSize("--rotate-size", v, o.rotateSize); },
         nullptr},
        {"--rotate-time",
         [](const std::string& v, LogOptions& o) { return ParseDuration("--rotate-time", v, o.rotateSeconds); },
         nullptr},
        {"--keep", [](const std::string& v, LogOptions& o) { return ParseCount("--keep", v, o.keep); }, nullptr},
        {"--min-free", [](const std::string& v, LogOptions& o) { return ParseSize("--min-free", v, o.minFree); },
         nullptr},
        {"--read", [](const std::string& v, LogOptions& o) -> std::string {
             o.readPath = v;
             return v.empty() ? "--read needs a file name" : "";
         }, nullptr},
        {"--qdb", [](const std::string& v, LogOptions& o) -> std::string {
             o.qdbPath = v;
             return v.empty() ? "--qdb needs a file name" : "";
         }, nullptr},
        {"--decode", nullptr, &LogOptions::decode},
        {"--gsmtap-v3", nullptr, &LogOptions::gsmtapV3},
        {"--defaults", nullptr, &LogOptions::defaults},
        {"--quiet", nullptr, &LogOptions::quiet},
        {"--leave-logging", nullptr, &LogOptions::leaveLogging},
        {"--allow-empty", nullptr, &LogOptions::allowEmpty},
        {"--help", nullptr, nullptr},
        {"--version", nullptr, nullptr},
    }};
    return kRows;
}

const OptionRow* FindOption(const std::string& arg)
{
    for (const OptionRow& row : OptionTable())
        if (arg == row.name)
            return &row;
    return arg == "-h" ? FindOption("--help") : nullptr;
}

// What the whole command line must hold once every word is read.
std::string CheckComplete(const LogOptions& options)
{
    if (options.gsmtapV3 && options.pcapPath.empty() && !options.gsmtap)
        return "--gsmtap-v3 goes with --pcap or --gsmtap";
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
    if (options.defaults && !options.dmcPath.empty())
        return "--dmc and --defaults exclude each other";
    if (options.allowEmpty && options.dmcPath.empty())
        return "--allow-empty goes with --dmc";
    // Told now, so that a typo in a service's options is not a restart loop.
    return CheckSettings(options.dcb);
}

// Applies one option word (and its value); why it is refused, or nothing.
std::string TakeOption(const OptionRow& row, const std::vector<std::string>& args, std::size_t& i,
                       LogOptions& options, std::set<std::string>& seen)
{
    const std::string arg = args[i];
    const bool repeated = !seen.insert(row.name).second;
    if (row.flag) {
        options.*row.flag = true;
        return {};
    }
    if (i + 1 >= args.size())
        return arg + " needs a value";
    // A bad value is told before a repeat, so the message names what is
    // wrong with the word just read.
    if (std::string why = row.apply(args[++i], options); !why.empty())
        return why;
    return repeated ? arg + " given twice" : std::string();
}

ParsedArgs Finished(const char* text)
{
    ParsedArgs parsed;
    parsed.message = text;
    return parsed;
}

}  // namespace

std::string PortFromWord(const std::string& word)
{
    if (word.size() < 2 || word[0] != '/' || word.find('/', 1) != std::string::npos
        || word.size() - 1 > kMaxPortName)
        return word;
    struct stat st {};
    return ::lstat(word.c_str(), &st) == 0 ? word : word.substr(1);
}

ParsedArgs ParseLogArgs(const std::vector<std::string>& args)
{
    LogOptions options;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (const OptionRow* row = FindOption(arg)) {
            if (row->name == std::string("--help"))
                return Finished(kLogUsage);
            if (row->name == std::string("--version"))
                return Finished((VersionLine() + "\n").c_str());
            if (std::string why = TakeOption(*row, args, i, options, seen); !why.empty())
                return Usage(why);
            continue;
        }
        // --pcap FILE and --gsmtap [HOST[:PORT]] (whose value is optional).
        if (std::string why; TakeGsmtapOption(args, i, options, why)) {
            if (!why.empty())
                return Usage(why);
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return Usage("unknown option \"" + arg + "\"");
        if (!options.port.empty())
            return Usage("one port only (\"" + options.port + "\" and \"" + arg + "\")");
        options.port = PortFromWord(arg);
    }
    if (std::string why = CheckComplete(options); !why.empty())
        return Usage(why);
    ParsedArgs parsed;
    parsed.options = options;
    return parsed;
}
