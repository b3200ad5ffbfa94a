// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/DiskFloor.h"

#include <algorithm>
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

std::optional<CRunFiles::Removed> CRunFiles::RemoveOldest()
{
    const RunFile oldest = m_files.front();
    m_files.pop_front();
    struct stat st {};
    if (::lstat(oldest.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)
        || CaptureFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)} != oldest.id)
        return std::nullopt;   // gone, or another file now has its name: not ours
    if (::unlink(oldest.path.c_str()) != 0)
        return std::nullopt;
    return Removed{oldest.path, static_cast<std::uint64_t>(st.st_size)};
}

std::vector<CRunFiles::Removed> CRunFiles::KeepNewest(std::size_t keep)
{
    std::vector<Removed> removed;
    while (m_files.size() > std::max<std::size_t>(keep, 1))
        if (std::optional<Removed> file = RemoveOldest())
            removed.push_back(*file);
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
        if (std::optional<Removed> file = RemoveOldest())
            result.removed.push_back(*file);
    }
}
