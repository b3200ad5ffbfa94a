// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The values orvane-log's options take, read from their words. Pure: each
// returns why a word is refused, or an empty string.
#include "serial/Dcb.h"

#include <cstdint>
#include <string>

// "BAUD[,BITS,PARITY,STOP]" onto dcb: PARITY is N, O, E, M or S, STOP 1, 1.5
// or 2. Only the form is checked here (CheckSettings says whether Linux can
// express the combination). Empty on success, else why; a refused text
// changes nothing.
std::string ApplySettings(const std::string& text, DCB& dcb);
// Whether the port could be set as dcb says (the refusal the port would give
// at open, told while the arguments are read). Empty when it can.
std::string CheckSettings(const DCB& dcb);

// A size as dumpcap and tcpdump take it: bytes, or a number with k, M or G
// (binary: 1k = 1024). "256M" -> 268435456.
std::string ParseSize(const std::string& option, const std::string& text, std::uint64_t& bytes);
// A duration: seconds, or a number with s, m or h. "90s", "15m", "1.5h".
std::string ParseDuration(const std::string& option, const std::string& text, double& seconds);
// A whole number of at least 1.
std::string ParseCount(const std::string& option, const std::string& text, std::uint64_t& count);
