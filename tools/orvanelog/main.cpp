// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log: Orvane's Log client without a window, for rigs without a
// display. See Options.cpp for the command line and LogRun.cpp for the run.
#include "sys/StopSignals.h"
#include "tools/orvanelog/LogRun.h"
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/ReadCapture.h"
#include "tools/orvanelog/PcapOutput.h"
#include "tools/orvanelog/Terminal.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    const ParsedArgs parsed = ParseLogArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fputs(parsed.message.c_str(), parsed.status == kExitClean ? stdout : stderr);
        return parsed.status;
    }
    if (!parsed.options->readPath.empty())
        return RunRead(*parsed.options, stdout, stderr);
    // Before the port's reader thread exists, so that it inherits the mask.
    if (!sysio::BlockStopSignals() || !terminal::BlockResizeSignal()) {
        std::perror("orvane-log: pthread_sigmask");
        return kExitUsage;
    }
    // With --decode the status line is on standard error; it is redrawn in
    // place only while the records' lines go elsewhere.
    const bool terminal = parsed.options->decode
                              ? ::isatty(STDERR_FILENO) == 1 && ::isatty(STDOUT_FILENO) != 1
                              : ::isatty(STDOUT_FILENO) == 1;
    COrvaneLog run(*parsed.options, stdout, stderr, terminal);
    return run.Run();
}
