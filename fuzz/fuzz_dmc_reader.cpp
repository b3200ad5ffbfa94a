// SPDX-License-Identifier: GPL-2.0-or-later
// The .dmc reader on arbitrary bytes, and whatever lists it finds run through
// the mask command builders as the configuration sequence would.
#include "DriveBuilders.h"
#include "logclient/DmcReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// The input as a file: one anonymous in-memory file for the whole run, its
// content replaced by each input and reached by the same /proc path, so an
// input costs a rewrite rather than a new file.
class MemFile {
public:
    MemFile() : m_fd(memfd_create("fuzz.dmc", MFD_CLOEXEC)), m_path("/proc/self/fd/" + std::to_string(m_fd))
    {
        FUZZ_CHECK(m_fd >= 0);
    }
    ~MemFile() { close(m_fd); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    void Hold(const std::uint8_t* data, std::size_t size)
    {
        FUZZ_CHECK(ftruncate(m_fd, 0) == 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }
    const std::string& Path() const { return m_path; }

private:
    int m_fd;
    std::string m_path;
};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static MemFile file;
    file.Hold(data, size);
    CDmcReader reader;
    DmcDocument doc;
    std::string error;
    if (!reader.LoadDocument(file.Path(), doc, &error)) {
        FUZZ_CHECK(!doc);
        return 0;
    }
    FUZZ_CHECK(doc != nullptr);

    int messages = 0;
    const auto sink = [&messages](const char*) { ++messages; };
    std::string events, logCodes, otaTypes, levels;
    reader.GetListText(doc, g_pathEventIDs, events, sink);
    reader.GetListText(doc, g_pathLogCodes, logCodes, sink);
    reader.GetListText(doc, g_pathOTATypes, otaTypes, sink);
    reader.GetListText(doc, g_pathMessageLevels, levels, sink);
    FUZZ_CHECK(messages == 0);   // a loaded document always has a root element
    DriveBuilders(events, logCodes, otaTypes, levels, kMaskPacketRoom);
    return 0;
}
