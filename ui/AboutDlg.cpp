// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/AboutDlg.h"

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Orvane"));
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    const DialogUnits du(font());
    setFixedSize(du.Size(235, 55));

    m_icon.setObjectName(QStringLiteral("IDR_MAINFRAME"));
    m_icon.setGeometry(du.Rect(11, 17, 20, 20));
    const int side = qMin(m_icon.width(), m_icon.height());
    m_icon.setPixmap(QPixmap::fromImage(RenderOrvaneIcon(side >= 48 ? 48 : side >= 32 ? 32 : 24)));
    m_icon.setAlignment(Qt::AlignCenter);

    m_version.setObjectName(QStringLiteral("IDC_STATIC_VERSION"));
    m_version.setTextFormat(Qt::PlainText);
    m_version.setGeometry(du.Rect(40, 10, 119, 8));
    m_tagline.setObjectName(QStringLiteral("IDC_STATIC_TAGLINE"));
    m_tagline.setTextFormat(Qt::PlainText);
    m_tagline.setGeometry(du.Rect(40, 25, 119, 8));

    m_ok.setObjectName(QStringLiteral("IDOK"));
    m_ok.setGeometry(du.Rect(178, 7, 50, 14));
    m_ok.setDefault(true);
    connect(&m_ok, &QPushButton::clicked, this, &QDialog::accept);
}
