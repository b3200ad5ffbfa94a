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

// The input as a file: an anonymous in-memory one, reached by its /proc path.
class MemFile {
public:
    MemFile(const std::uint8_t* data, std::size_t size) : m_fd(memfd_create("fuzz.dmc", 0))
    {
        FUZZ_CHECK(m_fd >= 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = write(m_fd, data + done, size - done);
            FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }
    ~MemFile() { close(m_fd); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    std::string Path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemFile file(data, size);
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
