#pragma once
// The real main window over a pseudo-terminal: the test holds the device end,
// the dialog opens "COM1", which the port directory points at the pty.
#include "support/DmFrames.h"
#include "support/FakePrompts.h"
#include "support/Pty.h"
#include "ui/OrvaneDlg.h"

#include <gtest/gtest.h>

#include <memory>

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ports.Link("COM1", pty.SlavePath());
        dlg = std::make_unique<COrvaneDlg>(prompts);
        dlg->m_szStartDir = startDir.Path();
    }

    void TearDown() override { dlg.reset(); }

    // Connect as the button does; the port must open.
    void Connect()
    {
        dlg->OnConnect();
        ASSERT_TRUE(dlg->m_SerialPort.IsOpen()) << dlg->m_SerialPort.GetLastErrorText();
    }

    void SetCommand(const QString& text) { dlg->m_editCommand.setText(text); }

    // Click a mode radio as the user does: the check moves, then the handler runs.
    void ClickMode(QRadioButton& radio) { radio.click(); }

    QString Status() const { return dlg->m_staticStatus.text(); }
    QString Results() const { return dlg->m_editResults.toPlainText(); }

    // Hands a chunk to the receive handler as the port's mailbox does.
    void Deliver(const Bytes& chunk) { dlg->OnCommRxChar(chunk); }

    PtyPair pty;
    PortDir ports;
    TempDir startDir;
    FakePrompts prompts;
    std::unique_ptr<COrvaneDlg> dlg;
};
