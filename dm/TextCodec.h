#pragma once
// Conversions between the text a user types or sees and the bytes on the line.
#include <cstddef>

int HexTextToBytes(char* text, unsigned char* out, int count);
int HexTokensToBytes(char* text, unsigned char* out, const char* delimiters);
// As above, but never stores more than capacity bytes (tokens past it are skipped).
int HexTokensToBytes(char* text, unsigned char* out, std::size_t capacity, const char* delimiters);
void BytesToHexText(const unsigned char* data, char* out, int count);
int CopyBytesAsText(const unsigned char* data, char* out, int count);
int ParseNumberToken(const char* token, unsigned short* out);
