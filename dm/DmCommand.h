#pragma once
// DM command codes: the first byte of a DM request and of the modem's reply
// to it. The one table of them: the builders, the Log server's replies, the
// virtual modem and the deframer all name their codes from here.
#include <cstdint>

namespace dm {

enum Command : std::uint8_t {
    kVersionInfo = 0x00,     // version and build strings (a canned reply)
    kLog = 0x10,             // a log record the modem sends on its own
    kBadCommand = 0x13,      // reply: the request's code is unknown
    kBadLength = 0x15,       // reply: the request is too short for its code
    kDiagVersion = 0x1C,     // a canned reply
    kTimestamp = 0x1D,       // a canned reply
    kNvRead = 0x26,          // answered by echoing the request
    kSubsystem = 0x4B,       // subsystem dispatch (a canned reply for 4B 04 0E)
    kFeatureQuery = 0x51,    // a canned reply
    kDmAt = 0x5E,            // an AT command carried as a DM packet: 5E, text, 0D
    kEventReport = 0x60,     // switch event reporting on or off; also an event record the modem sends
    kLogConfig = 0x73,       // log masks per equipment id
    kExtMessage = 0x79,      // an extended message record the modem sends on its own
    kExtBuildId = 0x7C,      // a canned reply
    kExtMsgConfig = 0x7D,    // message level masks per ssid range
    kEventMask = 0x82,       // event mask
};

}  // namespace dm
