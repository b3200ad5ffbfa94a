// SPDX-License-Identifier: GPL-2.0-or-later
// Port names to device paths. The port directory lets a user (or a test, or
// the virtual modem) point any name at any tty without renaming devices.
#include "serial/PortNames.h"
#include "serial/SerialPlatform.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serialio {

namespace {

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// "COMn" with n in 1..60 (no sign, no leading zero); 0 otherwise.
int ComNumber(std::string_view name)
{
    if (name.size() < 4 || name.size() > 5 || name.substr(0, 3) != "COM" || name[3] == '0')
        return 0;
    int number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + (c - '0');
    }
    return number >= 1 && number <= 60 ? number : 0;
}

}  // namespace

std::string PortDirectory()
{
    if (const char* dir = std::getenv("ORVANE_PORT_DIR"); dir && *dir)
        return dir;
    return HomeDirectory() + "/.config/orvane/ports";
}

std::string DefaultDevicePath(std::string_view name)
{
    const int number = ComNumber(name);
    if (number == 0)
        return {};
    static constexpr const char* kFamilies[] = {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"};
    return kFamilies[(number - 1) / 20] + std::to_string((number - 1) % 20);
}

std::string ResolvePortName(std::string_view name)
{
    namespace fs = std::filesystem;
    const fs::path dir = PortDirectory();
    // Only a plain entry name may reach into the directory.
    const bool plain = !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
    if (plain) {
        const fs::path entry = dir / std::string(name);
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(entry, ec);
        if (!ec && fs::exists(status)) {
            if (fs::is_symlink(status)) {
                fs::path target = fs::read_symlink(entry, ec);
                if (!ec)
                    return (target.is_absolute() ? target : dir / target).lexically_normal().string();
            }
            return entry.string();
        }
    }
    if (std::string path = DefaultDevicePath(name); !path.empty())
        return path;
    if (!plain)
        return {};
    return (dir / std::string(name)).string();   // where an entry of that name would go
}

PortPresence LookUpPort(std::string_view name, const std::string& byIdDir)
{
    namespace fs = std::filesystem;
    PortPresence presence;
    presence.device = ResolvePortName(name);
    std::error_code ec;
    if (presence.device.empty() || !fs::exists(presence.device, ec))
        return presence;
    presence.present = true;
    // Links that point at the same node (followed to the end) name this device.
    // Compared by stat: std::filesystem::equivalent refuses two device nodes.
    struct stat device {};
    if (::stat(presence.device.c_str(), &device) != 0)
        return presence;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat link {};
        const std::string path = it->path().string();
        if (::stat(path.c_str(), &link) != 0 || link.st_dev != device.st_dev || link.st_ino != device.st_ino)
            continue;
        // Of several, the first by name, so the list reads the same every time.
        if (presence.byId.empty() || path < presence.byId)
            presence.byId = path;
    }
    return presence;
}

}  // namespace serialio
