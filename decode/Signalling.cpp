#include "decode/Signalling.h"

namespace decode {

// The packet-version tables come with the GSMTAP converter.
SignallingResult ReadSignalling(const LogRecordView&, SignallingMessage&)
{
    return SignallingResult::NotSignalling;
}

std::string SummarizeSignalling(const LogRecordView&)
{
    return {};
}

}  // namespace decode
