// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The captures this run created, oldest first, and the two ways they give
// way: --keep N (at most N of them) and --min-free SIZE (the oldest goes
// while the capture's filesystem has less than SIZE free). Only a file this
// run created is ever deleted: each is known by its device and inode, and a
// name that now leads to another file is let go without deleting it.
#include "logclient/CaptureFile.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CRunFiles {
public:
    // Free bytes for an unprivileged writer on dir's filesystem; nothing when
    // it cannot be told.
    using FreeSpace = std::function<std::optional<std::uint64_t>(const std::string& dir)>;
    static std::optional<std::uint64_t> StatvfsFree(const std::string& dir);

    explicit CRunFiles(FreeSpace freeSpace = StatvfsFree) : m_freeSpace(std::move(freeSpace)) {}

    // A capture this run created; the newest is the open one.
    void Add(const std::string& path, const CaptureFileId& id);
    std::size_t Count() const { return m_files.size(); }

    struct Removed {
        std::string path;
        std::uint64_t bytes = 0;   // its size when it was removed
        bool operator==(const Removed&) const = default;
    };

    // Deletes the oldest captures until at most keep are left (the newest,
    // the open one, always stays). Returns what was deleted.
    std::vector<Removed> KeepNewest(std::size_t keep);

    struct FloorResult {
        bool kept = true;                   // the floor holds (or could not be measured)
        std::vector<Removed> removed;       // deleted, oldest first
        std::uint64_t freeBytes = 0;        // what is free now
    };
    // Deletes the oldest captures (never the newest) while dir has less than
    // minFree free; kept is false when it still has less and none is left.
    FloorResult KeepFree(const std::string& dir, std::uint64_t minFree);

private:
    struct RunFile {
        std::string path;
        CaptureFileId id;
    };
    // Deletes the oldest file when its name still leads to it; drops it either way.
    std::optional<Removed> RemoveOldest();

    std::deque<RunFile> m_files;
    FreeSpace m_freeSpace;
};
