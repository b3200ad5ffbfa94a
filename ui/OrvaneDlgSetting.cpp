#include "ui/OrvaneDlg.h"
// The "Setting..." button: the port settings dialog.
#include "ui/PreferencesDlg.h"

// Edits a copy of the port's settings record; the port's own record changes
// only on OK and reaches the device at the next Connect.
void COrvaneDlg::OnSetting()
{
    CPreferencesDlg dlg(m_prompts, this);
    // Only an open port has settings of its own to report; a closed one keeps its record.
    m_SerialPort.GetState();
    dlg.m_dcb = m_SerialPort.m_dcb;
    if (dlg.DoModal() == IDOK)
        m_SerialPort.m_dcb = dlg.m_dcb;
}
