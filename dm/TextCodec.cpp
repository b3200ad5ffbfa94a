#include "dm/TextCodec.h"
int HexTextToBytes(char*, unsigned char*, int) { return 0; }
int HexTokensToBytes(char*, unsigned char*, const char*) { return 0; }
int HexTokensToBytes(char*, unsigned char*, std::size_t, const char*) { return 0; }
void BytesToHexText(const unsigned char*, char* out, int) { if (out) *out = 0; }
int CopyBytesAsText(const unsigned char*, char* out, int) { if (out) *out = 0; return 0; }
int ParseNumberToken(const char*, unsigned short*) { return 0; }
