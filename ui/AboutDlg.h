// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CAboutDlg: the about box, IDD_ABOUTBOX.
#include <QDialog>
#include <QLabel>
#include <QPushButton>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel m_icon{this};
    QLabel m_version{QStringLiteral("Orvane Version 0.3.1"), this};
    QLabel m_tagline{QStringLiteral("Modem DM port test tool"), this};
    QPushButton m_ok{QStringLiteral("OK"), this};
};
