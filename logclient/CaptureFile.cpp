#include "logclient/CaptureFile.h"
CCaptureFile::~CCaptureFile() { Close(); }
bool CCaptureFile::Create(const std::string&, const std::tm&, std::string* error) { if (error) *error = "not implemented"; return false; }
void CCaptureFile::Write(const std::uint8_t*, std::size_t) {}
void CCaptureFile::Close() {}
