// Choosing the port, connecting and disconnecting, and connecting again by
// itself after the device went away under an open connection.
#include "ui/OrvaneDlg.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <filesystem>

void COrvaneDlg::OnSelChangePort()
{
    const QByteArray name = m_comboPort.currentText().toLatin1();
    char* buffer = m_SerialPort.GetNameBuffer();
    const std::size_t room = m_SerialPort.m_strPortName.size() - 1;
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(name.size()), room);
    std::copy_n(name.constData(), length, buffer);
    buffer[length] = '\0';
    m_comboPort.setToolTip(QString::fromStdString(m_SerialPort.GetDevicePath()));
}

namespace {
std::atomic<int> g_nConnectSettleMs{500};
}   // namespace

void COrvaneDlg::SetConnectSettleForTests(int milliseconds)
{
    g_nConnectSettleMs = milliseconds;
}

void COrvaneDlg::OnConnect()
{
    StopReconnecting();
    Connect(false);
}

bool COrvaneDlg::Connect(bool quiet)
{
    SetStatus(QStringLiteral("Connecting..."));
    if (m_nMode == MODE_LOG_CLIENT && m_nStep != 0)
        CreateCaptureFile();
    if (!m_SerialPort.Open()) {
        if (quiet) {
            SetStatus(QStringLiteral("Disconnected"));
            return false;
        }
        m_prompts.MessageBox(QStringLiteral("Connection failed, please close another connection first!"),
                             IPrompts::Icon::None, QString::fromStdString(m_SerialPort.GetLastErrorText()));
        SetStatus(QStringLiteral("Failed"));
        return false;
    }
    // Give the modem a moment after the lines come up before anything is sent.
    QThread::msleep(static_cast<unsigned long>(g_nConnectSettleMs.load()));
    SetStatus(QStringLiteral("Connected"));
    m_btnConnect.setEnabled(false);
    m_btnDisconnect.setEnabled(true);
    m_btnSetting.setEnabled(false);
    m_btnSend.setFocus();

    if (m_nMode == MODE_LOG_CLIENT)
        RepeatConfiguration();
    return true;
}

void COrvaneDlg::OnDisconnect()
{
    StopReconnecting();
    SetStatus(QStringLiteral("Closing connection..."));
    if (!m_SerialPort.Close())
        SetStatus(QStringLiteral("failed"));
    CloseCaptureFile();
    SetStatus(QStringLiteral("Disconnected"));
    m_btnConnect.setEnabled(true);
    m_btnDisconnect.setEnabled(false);
    m_btnSetting.setEnabled(true);
}

void COrvaneDlg::OnCommGone()
{
    // The device went away under an open connection (a modem reset or an
    // unplugged cable): end it as Disconnect would, then wait for the device
    // to come back and connect again as the Connect button would, so a
    // logging session goes on into a new capture file without a click.
    OnDisconnect();
    m_timerReconnect.start();
}

void COrvaneDlg::StopReconnecting()
{
    m_timerReconnect.stop();
}

void COrvaneDlg::TryReconnect()
{
    if (m_SerialPort.IsOpen()) {
        StopReconnecting();
        return;
    }
    // Only a device node that is there again is worth an attempt; an attempt
    // that fails (the node is not ready yet) is repeated on the next tick.
    const std::string path = m_SerialPort.GetDevicePath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec))
        return;
    if (Connect(true))
        StopReconnecting();
}
