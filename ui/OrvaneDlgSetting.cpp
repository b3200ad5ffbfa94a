#include "ui/OrvaneDlg.h"
// The "Setting..." button: the port settings dialog.
void COrvaneDlg::OnSetting() {}
