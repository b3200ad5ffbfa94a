// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Ways to make a capture's writes fail for real, for the tests of what a
// capture does then: a small tmpfs that fills up, or a file size limit.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>

// A tmpfs of `bytes` mounted on dir for the life of the object. Mounting needs
// root (and a system that lets it); Mounted() says whether it worked.
class SmallTmpfs {
public:
    SmallTmpfs(std::string dir, std::size_t bytes) : m_dir(std::move(dir))
    {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("tmpfs", m_dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
            m_mounted = true;
        else
            m_error = std::string("mount tmpfs: ") + std::strerror(errno);
    }
    ~SmallTmpfs()
    {
        if (m_mounted)
            ::umount2(m_dir.c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    bool Mounted() const { return m_mounted; }
    const std::string& Error() const { return m_error; }

private:
    std::string m_dir;
    bool m_mounted = false;
    std::string m_error;
};

// Every write of this process past `bytes` into a file fails with EFBIG
// ("File too large") until Lift() or the end of the object. SIGXFSZ, which
// would end the process, is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        Lift();
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active() const { return m_active; }
    void Lift()
    {
        if (m_active)
            ::setrlimit(RLIMIT_FSIZE, &m_saved);
        m_active = false;
    }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = SIG_DFL;
    bool m_active = false;
};
