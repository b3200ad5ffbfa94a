#include "serial/SerialPort.h"
CSerialPort::CSerialPort() : m_dcb(DefaultDcb()) { m_strPortName.fill(' '); m_strPortName.back() = 0; }
CSerialPort::~CSerialPort() { Close(); }
int CSerialPort::Open() { m_strLastError = "not implemented"; return 0; }
int CSerialPort::Close() { return 0; }
int CSerialPort::IsOpen() const { return m_hComm >= 0; }
int CSerialPort::GetState() { return 0; }
std::uint32_t CSerialPort::ReadQueued(std::uint8_t*, std::uint32_t) { return 0; }
int CSerialPort::Write(const std::uint8_t*, int) { return 0; }
int CSerialPort::PurgeAll() { return 0; }
void CSerialPort::SetNotifyWindow(ISerialNotify* window) { m_hNotifyWnd = window; }
char* CSerialPort::GetNameBuffer() { return m_strPortName.data(); }
bool CSerialPort::HandleMessage(unsigned, std::uint64_t, const std::function<void()>&) { return false; }
std::string CSerialPort::GetDevicePath() const { return {}; }
void CSerialPort::DeliverChunk(const std::uint8_t*, std::uint32_t) {}
void CSerialPort::NotifyLineEvent(std::uint32_t) {}
unsigned CSerialPort::ReaderThreadProc(CSerialPort*) { return 0; }
