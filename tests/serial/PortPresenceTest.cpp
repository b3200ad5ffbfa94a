// SPDX-License-Identifier: GPL-2.0-or-later
#include "serial/PortNames.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <vector>

namespace {

TEST(PortPresence, MarksNamesWithADeviceAndFindsTheirStableName)
{
    PtyPair modem;
    PtyPair other;
    PortDir ports;
    TempDir byId;
    TempDir files;
    const std::string plainFile = files.Path() + "/node";
    std::ofstream(plainFile) << "x";
    ports.Link("COM1", modem.SlavePath());
    ports.Link("COM2", files.Path() + "/gone");
    ports.Link("COM3", other.SlavePath());
    ports.Link("COM4", plainFile);
    // Two stable names for the modem: the first by name is shown.
    ASSERT_EQ(::symlink(modem.SlavePath().c_str(), (byId.Path() + "/usb-Test_Modem_2-if00").c_str()), 0);
    ASSERT_EQ(::symlink(modem.SlavePath().c_str(), (byId.Path() + "/usb-Test_Modem_1-if00").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/tty", (byId.Path() + "/usb-Dangling-if00").c_str()), 0);

    struct Case {
        const char* name;
        bool present;
        std::string device;
        std::string byIdName;
    };
    const std::vector<Case> cases = {
        {"COM1", true, modem.SlavePath(), byId.Path() + "/usb-Test_Modem_1-if00"},
        {"COM2", false, files.Path() + "/gone", ""},
        {"COM3", true, other.SlavePath(), ""},
        {"COM4", true, plainFile, ""},
        {"COM99", false, ports.Path() + "/COM99", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const serialio::PortPresence p = serialio::LookUpPort(c.name, byId.Path());
        EXPECT_EQ(p.present, c.present);
        EXPECT_EQ(p.device, c.device);
        EXPECT_EQ(p.byId, c.byIdName);
    }
    // Without a by-id folder (no USB serial device plugged in) nothing breaks.
    EXPECT_TRUE(serialio::LookUpPort("COM1", byId.Path() + "/missing").byId.empty());
}

}  // namespace
