// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A pseudo-terminal pair for serial tests: the test holds the master end and
// plays the device; the tool opens the slave end through a port directory.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair();                       // raw mode on both ends; fails the test on error
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

    // Writes all of data to the master end (the device sends it to the tool).
    void Send(const std::vector<std::uint8_t>& data);
    // Reads what the tool wrote, until `count` bytes arrived or the deadline passed.
    std::vector<std::uint8_t> Receive(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Reads whatever arrives until nothing more comes for `quiet`.
    std::vector<std::uint8_t> ReceiveUntilQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(300),
                                                std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Unplugs the device: closes the master end.
    void CloseMaster();

private:
    int m_master = -1;
    int m_slaveKeepAlive = -1;       // keeps the pty alive until the tool has opened it
    std::string m_slavePath;
};

// A temporary port directory ($ORVANE_PORT_DIR) for the life of the object:
// Link("COM1", path) makes the entry COM1 point at path.
class PortDir {
public:
    PortDir();
    ~PortDir();
    PortDir(const PortDir&) = delete;
    PortDir& operator=(const PortDir&) = delete;
    void Link(const std::string& name, const std::string& target);
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_previous;
    bool m_hadPrevious = false;
};

// A fresh empty directory removed (with its files) at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::vector<std::string> Files() const;   // names of the regular files in it, sorted

private:
    std::string m_path;
};
