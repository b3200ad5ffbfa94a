// orvane-log: Orvane's Log client without a window, for rigs without a
// display. See Options.cpp for the command line and LogRun.cpp for the run.
#include "sys/StopSignals.h"
#include "tools/orvanelog/LogRun.h"
#include "tools/orvanelog/Options.h"
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
    // Before the port's reader thread exists, so that it inherits the mask.
    if (!sysio::BlockStopSignals() || !terminal::BlockResizeSignal()) {
        std::perror("orvane-log: pthread_sigmask");
        return kExitUsage;
    }
    COrvaneLog run(*parsed.options, stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
    return run.Run();
}
