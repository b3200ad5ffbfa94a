// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// orvane-log --read FILE: a capture already on disk (an Orvane capture or a
// .qmdl, the same HDLC stream) read without a port. It prints the summary a
// live run prints and, with --decode, every record as a line first.
//
// What reads the file is a list of consumers: the counts, the --decode
// lines, and whatever else a caller adds (another output format: each
// consumer sees every chunk and every good frame with its records).
#include "decode/DiagDecoder.h"
#include "tools/orvanelog/Options.h"

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

struct ReadConsumer {
    std::function<void(std::span<const std::uint8_t> bytes)> onBytes;   // every chunk as read
    decode::CRecordStream::PacketHandler onPacket;                      // each good frame and its records
    std::function<bool(std::string* error)> finish;                     // after the last byte; false: failed
    std::function<std::string()> summary;                               // lines after the summary
};

// The exit status: 0, or kExitFile with the reason on err.
int ReadCapture(const LogOptions& options, std::FILE* out, std::FILE* err,
                std::vector<ReadConsumer> consumers = {});
