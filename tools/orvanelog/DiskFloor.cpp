#include "tools/orvanelog/DiskFloor.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

std::optional<std::uint64_t> CRunFiles::StatvfsFree(const std::string& dir)
{
    struct statvfs fs {};
    if (::statvfs(dir.c_str(), &fs) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

void CRunFiles::Add(const std::string& path, const CaptureFileId& id)
{
    m_files.push_back({path, id});
}

std::optional<std::string> CRunFiles::RemoveOldest()
{
    const RunFile oldest = m_files.front();
    m_files.pop_front();
    struct stat st {};
    if (::lstat(oldest.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)
        || CaptureFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)} != oldest.id)
        return std::nullopt;   // gone, or another file now has its name: not ours
    if (::unlink(oldest.path.c_str()) != 0)
        return std::nullopt;
    return oldest.path;
}

std::vector<std::string> CRunFiles::KeepNewest(std::size_t keep)
{
    std::vector<std::string> removed;
    while (m_files.size() > std::max<std::size_t>(keep, 1))
        if (std::optional<std::string> path = RemoveOldest())
            removed.push_back(*path);
    return removed;
}

CRunFiles::FloorResult CRunFiles::KeepFree(const std::string& dir, std::uint64_t minFree)
{
    FloorResult result;
    for (;;) {
        const std::optional<std::uint64_t> free = m_freeSpace(dir);
        if (!free)
            return result;
        result.freeBytes = *free;
        if (*free >= minFree)
            return result;
        if (m_files.size() <= 1) {
            result.kept = false;
            return result;
        }
        if (std::optional<std::string> path = RemoveOldest())
            result.removed.push_back(*path);
    }
}
