// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CConnection: the window's link to its port. It takes the chosen name into
// the port, opens it and gives the modem its settle time, closes it, marks the
// port names with a device behind them, and, after the device went away
// under an open connection, watches for its node to come back and asks the
// window to connect again. It also runs the port's hand-overs: a
// QSocketNotifier on the port's wake descriptor.
//
// Window thread only.
#include "serial/SerialPort.h"
#include "ui/PortCombo.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <memory>

class CConnection : public QObject {
    Q_OBJECT

public:
    CConnection(CSerialPort& port, CPortCombo& combo, QObject* parent = nullptr);

    // Test programs shorten the 500 ms the modem is given after Open, for
    // their many connects over a pty; the program itself never calls this.
    static void SetSettleForTests(int milliseconds);

    // Runs one hand-over each time the reader has a chunk; burst() says
    // whether to take the chunks that follow at once (a capture).
    void HandOverChunks(std::function<bool()> burst);
    // The combo's name into the port's name buffer; the device on the tooltip.
    void TakePortName();
    // Opens the port and waits the settle time; false: it stayed closed.
    bool Open();
    bool Close() { return m_port.Close() != 0; }
    bool IsOpen() const { return m_port.IsOpen() != 0; }
    void RefreshPortMarks();

    // After the device went away: on each tick while its node is there,
    // reconnect() is asked to connect; true ends the watch.
    void WatchForReturn(std::function<bool()> reconnect);
    void StopWatching() { m_timerReconnect.stop(); }

private:
    void TryReconnect();

    CSerialPort& m_port;
    CPortCombo& m_combo;
    QTimer m_timerReconnect;
    std::function<bool()> m_reconnect;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
