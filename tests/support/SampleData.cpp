// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/SampleData.h"

#include <sys/stat.h>

namespace {

std::string SampleDir()
{
    return ORVANE_SAMPLE_DATA;
}

}   // namespace

std::optional<std::string> SampleFile(const std::string& relative)
{
    const std::string path = SampleDir() + "/" + relative;
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return path;
}

std::string SampleMissing(const std::string& relative)
{
    return "optional sample " + relative + " not found in " + SampleDir() +
           "; the check against the real file is skipped";
}
