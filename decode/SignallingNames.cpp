// SPDX-License-Identifier: GPL-2.0-or-later
// Channel and message names. LTE RRC message types come from the first bits
// of the unaligned PER encoding (TS 36.331: each channel's message is a CHOICE
// of a c1 CHOICE and an extension); NAS message types from TS 24.301 (EPS),
// TS 24.008 (MM, GMM, SM, CC); GSM RR types from TS 44.018. Wording as
// Wireshark's dissectors show them.
#include "decode/SignallingNames_p.h"

#include <array>
#include <cstdio>

#include "decode/Gsmtap.h"

namespace decode {

namespace {

namespace gt = gsmtap;

template <std::size_t N>
const char* At(const std::array<const char*, N>& names, std::size_t i)
{
    return i < N ? names[i] : "";
}

// The first bits of a PDU, most significant first; reads past the end fail.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    bool Read(unsigned count, unsigned& value)
    {
        value = 0;
        for (unsigned i = 0; i < count; ++i, ++m_bit) {
            if (m_bit / 8 >= m_bytes.size())
                return false;
            value = (value << 1) | ((m_bytes[m_bit / 8] >> (7 - m_bit % 8)) & 1u);
        }
        return true;
    }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_bit = 0;
};

constexpr std::array<const char*, 16> kDlDcch = {
    "csfbParametersResponseCDMA2000", "dlInformationTransfer", "handoverFromEUTRAPreparationRequest",
    "mobilityFromEUTRACommand", "rrcConnectionReconfiguration", "rrcConnectionRelease", "securityModeCommand",
    "ueCapabilityEnquiry", "counterCheck", "ueInformationRequest-r9", "loggedMeasurementConfiguration-r10",
    "rnReconfiguration-r10", "rrcConnectionResume-r13", "dlDedicatedMessageSegment-r16", "spare2", "spare1"};
constexpr std::array<const char*, 16> kUlDcch = {
    "csfbParametersRequestCDMA2000", "measurementReport", "rrcConnectionReconfigurationComplete",
    "rrcConnectionReestablishmentComplete", "rrcConnectionSetupComplete", "securityModeComplete",
    "securityModeFailure", "ueCapabilityInformation", "ulHandoverPreparationTransfer", "ulInformationTransfer",
    "counterCheckResponse", "ueInformationResponse-r9", "proximityIndication-r9", "rnReconfigurationComplete-r10",
    "mbmsCountingResponse-r10", "interFreqRSTDMeasurementIndication-r10"};
constexpr std::array<const char*, 16> kUlDcchC2 = {
    "ueAssistanceInformation-r11", "inDeviceCoexIndication-r11", "mbmsInterestIndication-r11",
    "scgFailureInformation-r12", "sidelinkUEInformation-r12", "wlanConnectionStatusReport-r13",
    "rrcConnectionResumeComplete-r13", "ulInformationTransferMRDC-r15", "scgFailureInformationNR-r15",
    "measReportAppLayer-r15", "failureInformation-r15", "ulDedicatedMessageSegment-r16",
    "purConfigurationRequest-r16", "failureInformation-r16", "mcgFailureInformation-r16",
    "ulInformationTransferIRAT-r16"};
constexpr std::array<const char*, 4> kDlCcch = {
    "rrcConnectionReestablishment", "rrcConnectionReestablishmentReject", "rrcConnectionReject",
    "rrcConnectionSetup"};
constexpr std::array<const char*, 2> kUlCcch = {"rrcConnectionReestablishmentRequest", "rrcConnectionRequest"};
constexpr std::array<const char*, 2> kBcchDlSch = {"systemInformation", "systemInformationBlockType1"};

// c1 (a CHOICE of 2^bits) or the extension; for UL-DCCH and UL-CCCH the
// extension's c2 is read too.
std::string LteRrcMessageName(std::uint8_t sub, std::span<const std::uint8_t> pdu)
{
    BitReader bits(pdu);
    unsigned extension = 0, choice = 0;
    switch (sub) {
    case gt::kBcchBch: return "MasterInformationBlock";
    case gt::kBcchBchNb: return "MasterInformationBlock-NB";
    case gt::kBcchDlSch:
    case gt::kBcchDlSchBr:
        if (!bits.Read(1, extension))
            return {};
        if (extension)
            return "messageClassExtension";
        return bits.Read(1, choice) ? At(kBcchDlSch, choice) : "";
    case gt::kPcch:
        return bits.Read(1, extension) ? (extension ? "messageClassExtension" : "paging") : "";
    case gt::kMcch:
        if (!bits.Read(1, extension))
            return {};
        return extension ? (bits.Read(1, choice) && choice == 0 ? "mbmsCountingRequest-r10" : "messageClassExtension")
                         : "mbsfnAreaConfiguration-r9";
    case gt::kDlCcch:
        if (!bits.Read(1, extension))
            return {};
        return extension ? "messageClassExtension" : (bits.Read(2, choice) ? At(kDlCcch, choice) : "");
    case gt::kDlDcch:
        if (!bits.Read(1, extension))
            return {};
        return extension ? "messageClassExtension" : (bits.Read(4, choice) ? At(kDlDcch, choice) : "");
    case gt::kUlCcch:
        if (!bits.Read(1, extension))
            return {};
        if (!extension)
            return bits.Read(1, choice) ? At(kUlCcch, choice) : "";
        return bits.Read(1, choice) && choice == 0 ? "rrcConnectionResumeRequest-r13" : "messageClassExtension";
    case gt::kUlDcch:
        if (!bits.Read(1, extension))
            return {};
        if (!extension)
            return bits.Read(4, choice) ? At(kUlDcch, choice) : "";
        if (!bits.Read(1, extension) || extension)
            return "messageClassExtension";
        return bits.Read(4, choice) ? At(kUlDcchC2, choice) : "";
    default: return {};
    }
}

// WCDMA RRC (TS 25.331): the DCCH and CCCH messages start with an optional
// integrity check (a presence bit, then a 32-bit MAC and a 4-bit sequence
// number), then the message type.
constexpr std::array<const char*, 32> kUmtsDlDcch = {
    "activeSetUpdate", "assistanceDataDelivery", "cellChangeOrderFromUTRAN", "cellUpdateConfirm", "counterCheck",
    "downlinkDirectTransfer", "handoverFromUTRANCommand-GSM", "handoverFromUTRANCommand-CDMA2000",
    "measurementControl", "pagingType2", "physicalChannelReconfiguration",
    "physicalSharedChannelAllocation", "radioBearerReconfiguration", "radioBearerRelease", "radioBearerSetup",
    "rrcConnectionRelease", "securityModeCommand", "signallingConnectionRelease",
    "transportChannelReconfiguration", "transportFormatCombinationControl", "ueCapabilityEnquiry",
    "ueCapabilityInformationConfirm", "uplinkPhysicalChannelControl", "uraUpdateConfirm",
    "utranMobilityInformation", "handoverFromUTRANCommand-GERANIu", "mbmsModifiedServicesInformation",
    "etws-PrimaryNotificationWithSecurity", "handoverFromUTRANCommand-EUTRA", "ueInformationRequest",
    "loggingMeasurementConfiguration", "spare1"};
constexpr std::array<const char*, 32> kUmtsUlDcch = {
    "activeSetUpdateComplete", "activeSetUpdateFailure", "cellChangeOrderFromUTRANFailure",
    "counterCheckResponse", "handoverToUTRANComplete", "initialDirectTransfer", "handoverFromUTRANFailure",
    "measurementControlFailure", "measurementReport", "physicalChannelReconfigurationComplete",
    "physicalChannelReconfigurationFailure", "radioBearerReconfigurationComplete",
    "radioBearerReconfigurationFailure", "radioBearerReleaseComplete", "radioBearerReleaseFailure",
    "radioBearerSetupComplete", "radioBearerSetupFailure", "rrcConnectionReleaseComplete",
    "rrcConnectionSetupComplete", "rrcStatus", "securityModeComplete", "securityModeFailure",
    "signallingConnectionReleaseIndication", "transportChannelReconfigurationComplete",
    "transportChannelReconfigurationFailure", "transportFormatCombinationControlFailure",
    "ueCapabilityInformation", "uplinkDirectTransfer", "utranMobilityInformationConfirm",
    "utranMobilityInformationFailure", "mbmsModificationRequest", "ueInformationResponse"};
constexpr std::array<const char*, 8> kUmtsDlCcch = {
    "cellUpdateConfirm", "rrcConnectionReject", "rrcConnectionRelease", "rrcConnectionSetup", "uraUpdateConfirm",
    "etws-PrimaryNotificationWithSecurity", "spare2", "spare1"};
constexpr std::array<const char*, 4> kUmtsUlCcch = {"cellUpdate", "rrcConnectionRequest", "uraUpdate", "cellUpdateFDD-r11"};

std::string UmtsRrcMessageName(std::uint8_t sub, std::span<const std::uint8_t> pdu)
{
    BitReader bits(pdu);
    unsigned integrity = 0, skipped = 0, choice = 0;
    const bool checked = sub == gt::kUmtsDlDcch || sub == gt::kUmtsUlDcch || sub == gt::kUmtsDlCcch
                         || sub == gt::kUmtsUlCcch;
    if (checked && (!bits.Read(1, integrity) || (integrity && !(bits.Read(32, skipped) && bits.Read(4, skipped)))))
        return {};
    switch (sub) {
    case gt::kUmtsDlDcch: return bits.Read(5, choice) ? At(kUmtsDlDcch, choice) : "";
    case gt::kUmtsUlDcch: return bits.Read(5, choice) ? At(kUmtsUlDcch, choice) : "";
    case gt::kUmtsDlCcch: return bits.Read(3, choice) ? At(kUmtsDlCcch, choice) : "";
    case gt::kUmtsUlCcch: return bits.Read(2, choice) ? At(kUmtsUlCcch, choice) : "";
    case gt::kUmtsPcch: return bits.Read(1, choice) ? (choice ? "spare" : "pagingType1") : "";
    default: return {};
    }
}

struct NamedCode {
    std::uint8_t code;
    const char* name;
};

template <std::size_t N>
const char* Find(const NamedCode (&table)[N], std::uint8_t code)
{
    for (const NamedCode& row : table)
        if (row.code == code)
            return row.name;
    return nullptr;
}

constexpr NamedCode kEmm[] = {
    {0x41, "Attach request"}, {0x42, "Attach accept"}, {0x43, "Attach complete"}, {0x44, "Attach reject"},
    {0x45, "Detach request"}, {0x46, "Detach accept"}, {0x48, "Tracking area update request"},
    {0x49, "Tracking area update accept"}, {0x4A, "Tracking area update complete"},
    {0x4B, "Tracking area update reject"}, {0x4C, "Extended service request"},
    {0x4D, "Control plane service request"}, {0x4E, "Service reject"}, {0x4F, "Service accept"},
    {0x50, "GUTI reallocation command"}, {0x51, "GUTI reallocation complete"},
    {0x52, "Authentication request"}, {0x53, "Authentication response"}, {0x54, "Authentication reject"},
    {0x55, "Identity request"}, {0x56, "Identity response"}, {0x5C, "Authentication failure"},
    {0x5D, "Security mode command"}, {0x5E, "Security mode complete"}, {0x5F, "Security mode reject"},
    {0x60, "EMM status"}, {0x61, "EMM information"}, {0x62, "Downlink NAS transport"},
    {0x63, "Uplink NAS transport"}, {0x64, "CS Service notification"},
    {0x68, "Downlink generic NAS transport"}, {0x69, "Uplink generic NAS transport"},
};
constexpr NamedCode kEsm[] = {
    {0xC1, "Activate default EPS bearer context request"}, {0xC2, "Activate default EPS bearer context accept"},
    {0xC3, "Activate default EPS bearer context reject"}, {0xC5, "Activate dedicated EPS bearer context request"},
    {0xC6, "Activate dedicated EPS bearer context accept"}, {0xC7, "Activate dedicated EPS bearer context reject"},
    {0xC9, "Modify EPS bearer context request"}, {0xCA, "Modify EPS bearer context accept"},
    {0xCB, "Modify EPS bearer context reject"}, {0xCD, "Deactivate EPS bearer context request"},
    {0xCE, "Deactivate EPS bearer context accept"}, {0xD0, "PDN connectivity request"},
    {0xD1, "PDN connectivity reject"}, {0xD2, "PDN disconnect request"}, {0xD3, "PDN disconnect reject"},
    {0xD4, "Bearer resource allocation request"}, {0xD5, "Bearer resource allocation reject"},
    {0xD6, "Bearer resource modification request"}, {0xD7, "Bearer resource modification reject"},
    {0xD9, "ESM information request"}, {0xDA, "ESM information response"}, {0xDB, "Notification"},
    {0xDC, "ESM dummy message"}, {0xE8, "ESM status"}, {0xEA, "Remote UE report"},
    {0xEB, "Remote UE report response"}, {0xEC, "ESM data transport"},
};

std::string HexCode(const char* what, unsigned code)
{
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%s 0x%02X", what, code);
    return text.data();
}

// EPS NAS: the security header type in the high nibble of the first octet,
// the protocol discriminator in the low one. A protected message carries a
// MAC(4) and a sequence number(1) before the plain message; a ciphered one
// can be named only from a plain record, which holds it deciphered.
std::string LteNasMessageName(std::span<const std::uint8_t> pdu, bool protectedRecord, int depth = 0)
{
    if (pdu.empty())
        return {};
    const unsigned discriminator = pdu[0] & 0x0F;
    const unsigned securityHeader = pdu[0] >> 4;
    if (discriminator == 7 && securityHeader == 12)
        return "Service request";
    if (discriminator == 7 && securityHeader != 0) {
        const bool ciphered = securityHeader == 2 || securityHeader == 4;
        if ((ciphered && protectedRecord) || depth > 0 || pdu.size() <= 6)
            return "Security protected NAS message";
        return LteNasMessageName(pdu.subspan(6), protectedRecord, depth + 1);
    }
    if (discriminator == 7 && pdu.size() >= 2) {
        const char* name = Find(kEmm, pdu[1]);
        return name ? name : HexCode("EMM message type", pdu[1]);
    }
    if (discriminator == 2 && pdu.size() >= 3) {
        const char* name = Find(kEsm, pdu[2]);
        return name ? name : HexCode("ESM message type", pdu[2]);
    }
    return HexCode("protocol discriminator", discriminator);
}

constexpr NamedCode kGsmRr[] = {
    {0x00, "System Information Type 13"}, {0x02, "System Information Type 2bis"},
    {0x03, "System Information Type 2ter"}, {0x05, "System Information Type 5bis"},
    {0x06, "System Information Type 5ter"}, {0x07, "System Information Type 2quater"},
    {0x0D, "Channel Release"}, {0x12, "RR Status"}, {0x15, "Measurement Report"},
    {0x16, "Classmark Change"}, {0x19, "System Information Type 1"}, {0x1A, "System Information Type 2"},
    {0x1B, "System Information Type 3"}, {0x1C, "System Information Type 4"},
    {0x1D, "System Information Type 5"}, {0x1E, "System Information Type 6"}, {0x21, "Paging Request Type 1"},
    {0x22, "Paging Request Type 2"}, {0x24, "Paging Request Type 3"}, {0x27, "Paging Response"},
    {0x29, "Assignment Complete"}, {0x2B, "Handover Command"}, {0x2C, "Handover Complete"},
    {0x2E, "Assignment Command"}, {0x32, "Ciphering Mode Complete"}, {0x35, "Ciphering Mode Command"},
    {0x39, "Immediate Assignment Extended"}, {0x3A, "Immediate Assignment Reject"},
    {0x3F, "Immediate Assignment"},
};

constexpr NamedCode kMm[] = {
    {0x01, "IMSI Detach Indication"}, {0x02, "Location Updating Accept"}, {0x04, "Location Updating Reject"},
    {0x08, "Location Updating Request"}, {0x11, "Authentication Reject"}, {0x12, "Authentication Request"},
    {0x14, "Authentication Response"}, {0x18, "Identity Request"}, {0x19, "Identity Response"},
    {0x1A, "TMSI Reallocation Command"}, {0x1B, "TMSI Reallocation Complete"}, {0x1C, "Authentication Failure"},
    {0x21, "CM Service Accept"}, {0x22, "CM Service Reject"}, {0x24, "CM Service Request"},
    {0x31, "MM Status"}, {0x32, "MM Information"},
};
constexpr NamedCode kCc[] = {
    {0x01, "Alerting"}, {0x02, "Call Proceeding"}, {0x05, "Setup"}, {0x07, "Connect"},
    {0x0F, "Connect Acknowledge"}, {0x25, "Disconnect"}, {0x2A, "Release Complete"}, {0x2D, "Release"},
};
constexpr NamedCode kGmm[] = {
    {0x01, "Attach Request"}, {0x02, "Attach Accept"}, {0x03, "Attach Complete"}, {0x04, "Attach Reject"},
    {0x05, "Detach Request"}, {0x06, "Detach Accept"}, {0x08, "Routing Area Update Request"},
    {0x09, "Routing Area Update Accept"}, {0x0A, "Routing Area Update Complete"},
    {0x0B, "Routing Area Update Reject"}, {0x0C, "Service Request"}, {0x0D, "Service Accept"},
    {0x0E, "Service Reject"}, {0x10, "P-TMSI Reallocation Command"}, {0x11, "P-TMSI Reallocation Complete"},
    {0x12, "Authentication and Ciphering Req"}, {0x13, "Authentication and Ciphering Resp"},
    {0x14, "Authentication and Ciphering Rej"}, {0x1C, "Authentication and Ciphering Failure"},
    {0x15, "Identity Request"}, {0x16, "Identity Response"}, {0x20, "GMM Status"}, {0x21, "GMM Information"},
};
constexpr NamedCode kSm[] = {
    {0x41, "Activate PDP Context Request"}, {0x42, "Activate PDP Context Accept"},
    {0x43, "Activate PDP Context Reject"}, {0x46, "Deactivate PDP Context Request"},
    {0x47, "Deactivate PDP Context Accept"},
};

// 2G/3G NAS: discriminator in the low nibble of the first octet, the message
// type in the second (MM and CC keep two sequence bits above it).
std::string UmtsNasMessageName(std::span<const std::uint8_t> pdu)
{
    if (pdu.size() < 2)
        return {};
    const unsigned discriminator = pdu[0] & 0x0F;
    const char* name = nullptr;
    switch (discriminator) {
    case 3: name = Find(kCc, pdu[1] & 0x3F); break;
    case 5: name = Find(kMm, pdu[1] & 0x3F); break;
    case 8: name = Find(kGmm, pdu[1]); break;
    case 10: name = Find(kSm, pdu[1]); break;
    default: return HexCode("protocol discriminator", discriminator);
    }
    return name ? name : HexCode("message type", pdu[1]);
}

}  // namespace

const char* LteRrcChannelName(std::uint8_t sub)
{
    static constexpr std::array<const char*, 23> kNames = {
        "DL-CCCH", "DL-DCCH", "UL-CCCH", "UL-DCCH", "BCCH-BCH", "BCCH-DL-SCH", "PCCH", "MCCH",
        "BCCH-BCH-MBMS", "BCCH-DL-SCH-BR", "BCCH-DL-SCH-MBMS", "SC-MCCH", "SBCCH-SL-BCH", "SBCCH-SL-BCH-V2X",
        "DL-CCCH-NB", "DL-DCCH-NB", "UL-CCCH-NB", "UL-DCCH-NB", "BCCH-BCH-NB", "BCCH-BCH-TDD-NB",
        "BCCH-DL-SCH-NB", "PCCH-NB", "SC-MCCH-NB"};
    return At(kNames, sub);
}

const char* NrRrcChannelName(std::uint8_t sub)
{
    static constexpr std::array<const char*, 0x14> kNames = {
        "", "BCCH-BCH", "BCCH-DL-SCH", "DL-CCCH", "DL-DCCH", "MCCH", "PCCH", "UL-CCCH", "UL-CCCH1", "UL-DCCH",
        "", "", "", "", "", "", "RRCReconfiguration", "RRCReconfigurationComplete", "UE-MRDC-Capability",
        "UE-NR-Capability"};
    return At(kNames, sub);
}

const char* UmtsRrcChannelName(std::uint8_t sub)
{
    static constexpr std::array<const char*, 62> kNames = {
        "DL-DCCH", "UL-DCCH", "DL-CCCH", "UL-CCCH", "PCCH", "DL-SHCCH", "UL-SHCCH", "BCCH-FACH", "BCCH-BCH",
        "MCCH", "MSCH", "HandoverToUTRANCommand", "InterRATHandoverInfo", "SystemInformation-BCH",
        "System-Information-Container", "UE-RadioAccessCapabilityInfo", "MasterInformationBlock",
        "SysInfoType1", "SysInfoType2", "SysInfoType3", "SysInfoType4", "SysInfoType5", "SysInfoType5bis",
        "SysInfoType6", "SysInfoType7", "SysInfoType8", "SysInfoType9", "SysInfoType10", "SysInfoType11",
        "SysInfoType11bis", "SysInfoType12", "SysInfoType13", "SysInfoType13-1", "SysInfoType13-2",
        "SysInfoType13-3", "SysInfoType13-4", "SysInfoType14", "SysInfoType15", "SysInfoType15bis",
        "SysInfoType15-1", "SysInfoType15-1bis", "SysInfoType15-2", "SysInfoType15-2bis", "SysInfoType15-2ter",
        "SysInfoType15-3", "SysInfoType15-3bis", "SysInfoType15-4", "SysInfoType15-5", "SysInfoType15-6",
        "SysInfoType15-7", "SysInfoType15-8", "SysInfoType16", "SysInfoType17", "SysInfoType18",
        "SysInfoType19", "SysInfoType20", "SysInfoType21", "SysInfoType22", "SysInfoTypeSB1", "SysInfoTypeSB2",
        "ToTargetRNC-Container", "TargetRNC-ToSourceRNC-Container"};
    return At(kNames, sub);
}

int WcdmaSibSubType(std::uint8_t sib, bool cellForm)
{
    // The record's SIB numbering (SCAT diagwcdmalogparser.py) onto the GSMTAP sub-types.
    static constexpr std::array<std::uint8_t, 31> kSubs = {
        16, 17, 18, 19, 20, 21, 23, 24, 25, 26, 27, 28, 30, 31, 32, 33,
        34, 35, 36, 37, 39, 41, 44, 51, 52, 46, 53, 58, 59, 47, 22};
    if (sib < kSubs.size())
        return kSubs[sib];
    if (sib == 31)
        return cellForm ? 54 : 29;   // SysInfoType19 / SysInfoType11bis
    if (sib == 66)
        return 29;
    if (sib == 67)
        return 54;
    return -1;
}

std::string SignallingMessageName(const SignallingMessage& message)
{
    switch (message.rat) {
    case SignallingRat::LteRrc:
        return message.segment != 0 && message.segment != 1 ? std::string()
                                                             : LteRrcMessageName(message.gsmtapSubType, message.pdu);
    case SignallingRat::LteNas:
        return LteNasMessageName(message.pdu, message.gsmtapSubType == gt::kLteNasSecurityHeader);
    case SignallingRat::GsmRr: {
        const char* name = Find(kGsmRr, message.messageType);
        return name ? name : HexCode("message type", message.messageType);
    }
    case SignallingRat::UmtsNas:
        return UmtsNasMessageName(message.pdu);
    case SignallingRat::WcdmaRrc:
        return UmtsRrcMessageName(message.gsmtapSubType, message.pdu);
    case SignallingRat::NrRrc:
        return {};
    }
    return {};
}

}  // namespace decode
