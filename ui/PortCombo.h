// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The port list: tells the window before it drops down, so the marks of the
// names with a device behind them are fresh whenever the user looks.
#include <QComboBox>

#include <functional>

class CPortCombo : public QComboBox {
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void OnAboutToShow(std::function<void()> callback) { m_onAboutToShow = std::move(callback); }
    void showPopup() override
    {
        if (m_onAboutToShow)
            m_onAboutToShow();
        QComboBox::showPopup();
    }

private:
    std::function<void()> m_onAboutToShow;
};
