// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/Connection.h"

#include "serial/PortNames.h"

#include <QPainter>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <filesystem>

namespace {
std::atomic<int> g_nConnectSettleMs{500};
constexpr int kReconnectTickMs = 250;

// The mark of a port name with a device behind it: a small green dot.
QIcon PresentMark()
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2E, 0xA0, 0x43));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2, 2, 8, 8);
    painter.end();
    return QIcon(pixmap);
}
}  // namespace

CConnection::CConnection(CSerialPort& port, CPortCombo& combo, QObject* parent)
    : QObject(parent), m_port(port), m_combo(combo)
{
    m_timerReconnect.setInterval(kReconnectTickMs);
    connect(&m_timerReconnect, &QTimer::timeout, this, [this] { TryReconnect(); });
    m_combo.OnAboutToShow([this] { RefreshPortMarks(); });
}

void CConnection::SetSettleForTests(int milliseconds)
{
    g_nConnectSettleMs = milliseconds;
}

void CConnection::HandOverChunks(std::function<bool()> burst)
{
    if (m_port.WakeFd() < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_port.WakeFd(), QSocketNotifier::Read, this);
    // A capture takes a flood as it comes, chunk after chunk on this thread;
    // the display modes take one chunk per visit, so a reply or a redraw
    // never waits behind a burst.
    connect(m_notifier.get(), &QSocketNotifier::activated, this,
            [this, burst = std::move(burst)] { m_port.RunHandOver(burst()); });
}

void CConnection::TakePortName()
{
    const QByteArray name = m_combo.currentText().toLatin1();
    char* buffer = m_port.GetNameBuffer();
    const std::size_t room = m_port.m_strPortName.size() - 1;
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(name.size()), room);
    std::copy_n(name.constData(), length, buffer);
    buffer[length] = '\0';
    m_combo.setToolTip(QString::fromStdString(m_port.GetDevicePath()));
}

bool CConnection::Open()
{
    if (!m_port.Open())
        return false;
    // Give the modem a moment after the lines come up before anything is sent.
    QThread::msleep(static_cast<unsigned long>(g_nConnectSettleMs.load()));
    return true;
}

void CConnection::RefreshPortMarks()
{
    const QIcon mark = PresentMark();
    for (int i = 0; i < m_combo.count(); ++i) {
        const serialio::PortPresence port = serialio::LookUpPort(m_combo.itemText(i).toStdString());
        QString tip = QString::fromStdString(port.device);
        if (!port.byId.empty())
            tip += QStringLiteral("\n") + QString::fromStdString(port.byId);
        if (!port.present)
            tip += QStringLiteral(" (no device)");
        m_combo.setItemIcon(i, port.present ? mark : QIcon());
        m_combo.setItemData(i, tip, Qt::ToolTipRole);
    }
}

void CConnection::WatchForReturn(std::function<bool()> reconnect)
{
    m_reconnect = std::move(reconnect);
    m_timerReconnect.start();
}

void CConnection::TryReconnect()
{
    if (m_port.IsOpen()) {
        StopWatching();
        return;
    }
    // Only a device node that is there again is worth an attempt; an attempt
    // that fails (the node is not ready yet) is repeated on the next tick.
    const std::string path = m_port.GetDevicePath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec))
        return;
    if (m_reconnect && m_reconnect())
        StopWatching();
}
