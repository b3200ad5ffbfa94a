#pragma once
// The Log server's answers to DM requests: what a modem would reply.

// Writes the reply to request (a received chunk, taken as one raw frame) into
// reply (room for 133 bytes); returns its length, 0 for no reply.
unsigned GetCannedReply(const unsigned char* request, unsigned length, unsigned char* reply);
