// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The real main window over a pseudo-terminal: the test holds the device end,
// the dialog opens "COM1", which the port directory points at the pty.
#include "ui/WindowControls.h"
#include "support/DmFrames.h"
#include "support/FakePrompts.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <memory>

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ports.Link("COM1", pty.SlavePath());
        dlg = std::make_unique<COrvaneDlg>(prompts);
        UseStartDir(*dlg, startDir.Path());
    }

    void TearDown() override { dlg.reset(); }

    // Connect as the button does; the port must open.
    void Connect()
    {
        dlg->OnConnect();
        ASSERT_TRUE(PortOpen(*dlg)) << dlg->m_SerialPort.GetLastErrorText();
    }

    void SetCommand(const QString& text) { LineEdit(*dlg, "IDC_COMMAND").setText(text); }
    void ClickMode(int mode) { ::ClickMode(*dlg, mode); }

    QString Status() const { return Label(*dlg, "IDC_STATIC_STATUS").text(); }
    QString Results() const { return ResultsBox(*dlg).toPlainText(); }

    // Hands a chunk to the receive handler as the port's mailbox does.
    void Deliver(const Bytes& chunk) { dlg->OnCommRxChar(chunk); }

    PtyPair pty;
    PortDir ports;
    TempDir startDir;
    FakePrompts prompts;
    std::unique_ptr<COrvaneDlg> dlg;
};
