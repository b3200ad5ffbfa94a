#include "ui/OrvaneDlg.h"
// Configuration sequence, default packets and capture file.
void COrvaneDlg::SendEventReport(std::string) {}
void COrvaneDlg::SendEventMask(std::string, int* done) { *done = 1; }
void COrvaneDlg::SendLogConfig(std::string, std::string, int* done) { *done = 1; }
void COrvaneDlg::SendExtMsgConfig(std::string, int* done) { *done = 1; }
void COrvaneDlg::LoadConfiguration() {}
void COrvaneDlg::LoadDefaultConfig() { m_editCommand.clear(); }
void COrvaneDlg::OnTimer(int) {}
void COrvaneDlg::RunConfigStep(int) {}
void COrvaneDlg::SendDefaultStep(int) {}
void COrvaneDlg::CreateCaptureFile() {}
void COrvaneDlg::CloseCaptureFile() { m_hCaptureFile.Close(); }
void COrvaneDlg::CaptureChunk(const std::uint8_t* data, std::uint32_t count) { m_hCaptureFile.Write(data, count); }
