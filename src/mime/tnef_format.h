// The constants of the Transport-Neutral Encapsulation Format (the winmail.dat of Outlook): the
// stream signature, attribute levels, attribute types and ids, and the interface ids that tell
// what an object property holds.
#pragma once

#include <cstdint>

namespace orlendo::tnef {

inline constexpr uint32_t TNEF_SIGNATURE = 0x223E9F78;

// Attribute levels.
inline constexpr uint8_t LVL_MESSAGE = 0x01;
inline constexpr uint8_t LVL_ATTACHMENT = 0x02;

// Attribute types (the high word of an attribute id).
inline constexpr uint16_t atpTriples = 0x0000;
inline constexpr uint16_t atpString = 0x0001;
inline constexpr uint16_t atpText = 0x0002;
inline constexpr uint16_t atpDate = 0x0003;
inline constexpr uint16_t atpShort = 0x0004;
inline constexpr uint16_t atpLong = 0x0005;
inline constexpr uint16_t atpByte = 0x0006;
inline constexpr uint16_t atpWord = 0x0007;
inline constexpr uint16_t atpDword = 0x0008;

// Attribute ids, type included.
inline constexpr uint32_t attOwner = 0x00060000;
inline constexpr uint32_t attSentFor = 0x00060001;
inline constexpr uint32_t attDelegate = 0x00060002;
inline constexpr uint32_t attDateStart = 0x00030006;
inline constexpr uint32_t attDateEnd = 0x00030007;
inline constexpr uint32_t attAidOwner = 0x00050008;
inline constexpr uint32_t attRequestRes = 0x00040009;
inline constexpr uint32_t attFrom = 0x00008000;
inline constexpr uint32_t attSubject = 0x00018004;
inline constexpr uint32_t attDateSent = 0x00038005;
inline constexpr uint32_t attDateRecd = 0x00038006;
inline constexpr uint32_t attMessageStatus = 0x00068007;
inline constexpr uint32_t attMessageClass = 0x00078008;
inline constexpr uint32_t attMessageID = 0x00018009;
inline constexpr uint32_t attParentID = 0x0001800A;
inline constexpr uint32_t attConversationID = 0x0001800B;
inline constexpr uint32_t attBody = 0x0002800C;
inline constexpr uint32_t attPriority = 0x0004800D;
inline constexpr uint32_t attAttachData = 0x0006800F;
inline constexpr uint32_t attAttachTitle = 0x00018010;
inline constexpr uint32_t attAttachMetaFile = 0x00068011;
inline constexpr uint32_t attAttachCreateDate = 0x00038012;
inline constexpr uint32_t attAttachModifyDate = 0x00038013;
inline constexpr uint32_t attDateModified = 0x00038020;
inline constexpr uint32_t attAttachTransportFilename = 0x00069001;
inline constexpr uint32_t attAttachRenddata = 0x00069002;
inline constexpr uint32_t attMAPIProps = 0x00069003;
inline constexpr uint32_t attRecipTable = 0x00069004;
inline constexpr uint32_t attAttachment = 0x00069005;
inline constexpr uint32_t attTnefVersion = 0x00089006;
inline constexpr uint32_t attOemCodepage = 0x00069007;
inline constexpr uint32_t attOriginalMessageClass = 0x00070600;

// The attachment types of attAttachRenddata.
inline constexpr uint16_t AttachTypeFile = 0x0001;
inline constexpr uint16_t AttachTypeOle = 0x0002;

// Kinds of a named property's name.
inline constexpr uint32_t MNID_ID = 0;
inline constexpr uint32_t MNID_STRING = 1;

// Interface ids at the start of a PT_OBJECT value, as stored (the first three groups
// little-endian).
inline constexpr unsigned char IID_IMessage[16] = {0x07, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                   0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline constexpr unsigned char IID_IStorage[16] = {0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                   0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Attach methods (PR_ATTACH_METHOD).
inline constexpr int32_t ATTACH_BY_VALUE = 1;
inline constexpr int32_t ATTACH_EMBEDDED_MSG = 5;
inline constexpr int32_t ATTACH_OLE = 6;

} // namespace orlendo::tnef
