#include "logclient/DmcReader.h"
int CDmcReader::LoadDocument(const std::string&, DmcDocument&) { return 0; }
