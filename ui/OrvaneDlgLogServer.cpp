#include "ui/OrvaneDlg.h"
// Canned replies and log replay.
void COrvaneDlg::LoadLogFile() {}
int COrvaneDlg::OnSendLog(std::int64_t) { return 0; }
int COrvaneDlg::OnSendReply(std::vector<std::uint8_t>) { return 0; }
void COrvaneDlg::QueueCannedReply(const std::uint8_t*, std::uint32_t) {}
