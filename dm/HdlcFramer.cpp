#include "dm/HdlcFramer.h"

std::array<unsigned char, kHdlcScratchSize> g_HdlcScratch{};

int HdlcEncode(HdlcInput*, HdlcOutput*) { return 0; }
std::uint16_t HdlcFcsUpdate(std::uint16_t fcs, std::uint8_t) { return fcs; }
CHdlcFramer::CHdlcFramer() : m_out{nullptr, nullptr, 0}, m_in{} {}
int CHdlcFramer::Frame(unsigned char*, int) { return 0; }
