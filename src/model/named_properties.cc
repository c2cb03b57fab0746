#include "model/named_properties.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "model/utf8.h"

namespace orlendo {

namespace {

constexpr uint32_t TAG_NAMEID_GUIDS = 0x00020102;
constexpr uint32_t TAG_NAMEID_ENTRIES = 0x00030102;
constexpr uint32_t TAG_NAMEID_STRINGS = 0x00040102;

enum class PropertySet : uint8_t {
  Common,
  Address,
  Appointment,
  Meeting,
  Task,
  Note,
  Log,
  PostRss,
  Sharing,
  CalendarAssistant,
  PublicStrings,
  InternetHeaders,
  Mapi,
  Attachment,
  Messaging,
  UnifiedMessaging,
  AirSync,
  XmlExtractedEntities,
  None
};

struct SetRow {
  PropertySet set;
  const char* guid;
  const char* name;
};

constexpr SetRow kSets[] = {
    {PropertySet::Common, "{00062008-0000-0000-C000-000000000046}", "PSETID_Common"},
    {PropertySet::Address, "{00062004-0000-0000-C000-000000000046}", "PSETID_Address"},
    {PropertySet::Appointment, "{00062002-0000-0000-C000-000000000046}", "PSETID_Appointment"},
    {PropertySet::Meeting, "{6ED8DA90-450B-101B-98DA-00AA003F1305}", "PSETID_Meeting"},
    {PropertySet::Task, "{00062003-0000-0000-C000-000000000046}", "PSETID_Task"},
    {PropertySet::Note, "{0006200E-0000-0000-C000-000000000046}", "PSETID_Note"},
    {PropertySet::Log, "{0006200A-0000-0000-C000-000000000046}", "PSETID_Log"},
    {PropertySet::PostRss, "{00062041-0000-0000-C000-000000000046}", "PSETID_PostRss"},
    {PropertySet::Sharing, "{00062040-0000-0000-C000-000000000046}", "PSETID_Sharing"},
    {PropertySet::CalendarAssistant, "{11000E07-B51B-40D6-AF21-CAA85EDAB1D0}",
     "PSETID_CalendarAssistant"},
    {PropertySet::PublicStrings, "{00020329-0000-0000-C000-000000000046}", "PS_PUBLIC_STRINGS"},
    {PropertySet::InternetHeaders, "{00020386-0000-0000-C000-000000000046}", "PS_INTERNET_HEADERS"},
    {PropertySet::Mapi, "{00020328-0000-0000-C000-000000000046}", "PS_MAPI"},
    {PropertySet::Attachment, "{96357F7F-59E1-47D0-99A7-46515C183B54}", "PSETID_Attachment"},
    {PropertySet::Messaging, "{41F28F13-83F4-4114-A584-EEDB5A6B0BFF}", "PSETID_Messaging"},
    {PropertySet::UnifiedMessaging, "{4442858E-A9E3-4E80-B900-317A210CC15B}",
     "PSETID_UnifiedMessaging"},
    {PropertySet::AirSync, "{71035549-0739-4DCB-9163-00F0580DBBDF}", "PSETID_AirSync"},
    {PropertySet::XmlExtractedEntities, "{23239608-685D-4732-9C55-4C95CB4E8E33}",
     "PSETID_XmlExtractedEntities"},
};

struct LidRow {
  PropertySet set;
  uint32_t lid;
  const char* name;
};

// The commonly used numeric named properties of the well-known sets, by set and LID.
constexpr LidRow kLids[] = {
    {PropertySet::Common, 0x1000, "PidLidDayOfMonth"},
    {PropertySet::Common, 0x1001, "PidLidICalendarDayOfWeekMask"},
    {PropertySet::Common, 0x1005, "PidLidOccurrences"},
    {PropertySet::Common, 0x1006, "PidLidMonthOfYear"},
    {PropertySet::Common, 0x100B, "PidLidNoEndDateFlag"},
    {PropertySet::Common, 0x100D, "PidLidRecurrenceDuration"},
    {PropertySet::Common, 0x8045, "PidLidPromptSendUpdate"},
    {PropertySet::Common, 0x8501, "PidLidReminderDelta"},
    {PropertySet::Common, 0x8502, "PidLidReminderTime"},
    {PropertySet::Common, 0x8503, "PidLidReminderSet"},
    {PropertySet::Common, 0x8504, "PidLidReminderTimeTime"},
    {PropertySet::Common, 0x8505, "PidLidReminderTimeDate"},
    {PropertySet::Common, 0x8506, "PidLidPrivate"},
    {PropertySet::Common, 0x850E, "PidLidAgingDontAgeMe"},
    {PropertySet::Common, 0x8510, "PidLidSideEffects"},
    {PropertySet::Common, 0x8511, "PidLidRemoteStatus"},
    {PropertySet::Common, 0x8514, "PidLidSmartNoAttach"},
    {PropertySet::Common, 0x8516, "PidLidCommonStart"},
    {PropertySet::Common, 0x8517, "PidLidCommonEnd"},
    {PropertySet::Common, 0x8518, "PidLidTaskMode"},
    {PropertySet::Common, 0x8519, "PidLidTaskGlobalId"},
    {PropertySet::Common, 0x851A, "PidLidAutoProcessState"},
    {PropertySet::Common, 0x851C, "PidLidReminderOverride"},
    {PropertySet::Common, 0x851D, "PidLidReminderType"},
    {PropertySet::Common, 0x851E, "PidLidReminderPlaySound"},
    {PropertySet::Common, 0x851F, "PidLidReminderFileParameter"},
    {PropertySet::Common, 0x8520, "PidLidVerbStream"},
    {PropertySet::Common, 0x8524, "PidLidVerbResponse"},
    {PropertySet::Common, 0x8530, "PidLidFlagRequest"},
    {PropertySet::Common, 0x8535, "PidLidBilling"},
    {PropertySet::Common, 0x8536, "PidLidNonSendableTo"},
    {PropertySet::Common, 0x8537, "PidLidNonSendableCc"},
    {PropertySet::Common, 0x8538, "PidLidNonSendableBcc"},
    {PropertySet::Common, 0x8539, "PidLidCompanies"},
    {PropertySet::Common, 0x853A, "PidLidContacts"},
    {PropertySet::Common, 0x8543, "PidLidNonSendToTrackStatus"},
    {PropertySet::Common, 0x8544, "PidLidNonSendCcTrackStatus"},
    {PropertySet::Common, 0x8545, "PidLidNonSendBccTrackStatus"},
    {PropertySet::Common, 0x8552, "PidLidCurrentVersion"},
    {PropertySet::Common, 0x8554, "PidLidCurrentVersionName"},
    {PropertySet::Common, 0x8560, "PidLidReminderSignalTime"},
    {PropertySet::Common, 0x8580, "PidLidInternetAccountName"},
    {PropertySet::Common, 0x8581, "PidLidInternetAccountStamp"},
    {PropertySet::Common, 0x8582, "PidLidUseTnef"},
    {PropertySet::Common, 0x8584, "PidLidContactLinkSearchKey"},
    {PropertySet::Common, 0x8585, "PidLidContactLinkEntry"},
    {PropertySet::Common, 0x8586, "PidLidContactLinkName"},
    {PropertySet::Common, 0x859C, "PidLidSpamOriginalFolder"},
    {PropertySet::Common, 0x85A0, "PidLidToDoOrdinalDate"},
    {PropertySet::Common, 0x85A1, "PidLidToDoSubOrdinal"},
    {PropertySet::Common, 0x85A4, "PidLidToDoTitle"},
    {PropertySet::Common, 0x85B1, "PidLidInfoPathFormName"},
    {PropertySet::Common, 0x85B5, "PidLidClassified"},
    {PropertySet::Common, 0x85B6, "PidLidClassification"},
    {PropertySet::Common, 0x85B7, "PidLidClassificationDescription"},
    {PropertySet::Common, 0x85B8, "PidLidClassificationGuid"},
    {PropertySet::Common, 0x85BA, "PidLidClassificationKeep"},
    {PropertySet::Common, 0x85BD, "PidLidReferenceEntryId"},
    {PropertySet::Common, 0x85BF, "PidLidValidFlagStringProof"},
    {PropertySet::Common, 0x85C0, "PidLidFlagString"},
    {PropertySet::Common, 0x85C6, "PidLidConversationActionMoveFolderEid"},
    {PropertySet::Common, 0x85C7, "PidLidConversationActionMoveStoreEid"},
    {PropertySet::Common, 0x85C8, "PidLidConversationActionMaxDeliveryTime"},
    {PropertySet::Common, 0x85C9, "PidLidConversationProcessed"},
    {PropertySet::Common, 0x85CA, "PidLidConversationActionLastAppliedTime"},
    {PropertySet::Common, 0x85CB, "PidLidConversationActionVersion"},
    {PropertySet::Common, 0x85E0, "PidLidPendingStateForSiteMailboxDocument"},
    {PropertySet::Address, 0x8005, "PidLidFileUnder"},
    {PropertySet::Address, 0x8006, "PidLidFileUnderId"},
    {PropertySet::Address, 0x8007, "PidLidContactItemData"},
    {PropertySet::Address, 0x800E, "PidLidReferredBy"},
    {PropertySet::Address, 0x8010, "PidLidDepartment"},
    {PropertySet::Address, 0x8015, "PidLidHasPicture"},
    {PropertySet::Address, 0x801A, "PidLidHomeAddress"},
    {PropertySet::Address, 0x801B, "PidLidWorkAddress"},
    {PropertySet::Address, 0x801C, "PidLidOtherAddress"},
    {PropertySet::Address, 0x8022, "PidLidPostalAddressId"},
    {PropertySet::Address, 0x8023, "PidLidContactCharacterSet"},
    {PropertySet::Address, 0x8025, "PidLidAutoLog"},
    {PropertySet::Address, 0x8026, "PidLidFileUnderList"},
    {PropertySet::Address, 0x8028, "PidLidAddressBookProviderEmailList"},
    {PropertySet::Address, 0x8029, "PidLidAddressBookProviderArrayType"},
    {PropertySet::Address, 0x802B, "PidLidHtml"},
    {PropertySet::Address, 0x802C, "PidLidYomiFirstName"},
    {PropertySet::Address, 0x802D, "PidLidYomiLastName"},
    {PropertySet::Address, 0x802E, "PidLidYomiCompanyName"},
    {PropertySet::Address, 0x8040, "PidLidBusinessCardDisplayDefinition"},
    {PropertySet::Address, 0x8041, "PidLidBusinessCardCardPicture"},
    {PropertySet::Address, 0x8045, "PidLidWorkAddressStreet"},
    {PropertySet::Address, 0x8046, "PidLidWorkAddressCity"},
    {PropertySet::Address, 0x8047, "PidLidWorkAddressState"},
    {PropertySet::Address, 0x8048, "PidLidWorkAddressPostalCode"},
    {PropertySet::Address, 0x8049, "PidLidWorkAddressCountry"},
    {PropertySet::Address, 0x804A, "PidLidWorkAddressPostOfficeBox"},
    {PropertySet::Address, 0x804C, "PidLidDistributionListChecksum"},
    {PropertySet::Address, 0x804D, "PidLidBirthdayEventEntryId"},
    {PropertySet::Address, 0x804E, "PidLidAnniversaryEventEntryId"},
    {PropertySet::Address, 0x804F, "PidLidContactUserField1"},
    {PropertySet::Address, 0x8050, "PidLidContactUserField2"},
    {PropertySet::Address, 0x8051, "PidLidContactUserField3"},
    {PropertySet::Address, 0x8052, "PidLidContactUserField4"},
    {PropertySet::Address, 0x8053, "PidLidDistributionListName"},
    {PropertySet::Address, 0x8054, "PidLidDistributionListOneOffMembers"},
    {PropertySet::Address, 0x8055, "PidLidDistributionListMembers"},
    {PropertySet::Address, 0x8062, "PidLidInstantMessagingAddress"},
    {PropertySet::Address, 0x8064, "PidLidDistributionListStream"},
    {PropertySet::Address, 0x8080, "PidLidEmail1DisplayName"},
    {PropertySet::Address, 0x8082, "PidLidEmail1AddressType"},
    {PropertySet::Address, 0x8083, "PidLidEmail1EmailAddress"},
    {PropertySet::Address, 0x8084, "PidLidEmail1OriginalDisplayName"},
    {PropertySet::Address, 0x8085, "PidLidEmail1OriginalEntryId"},
    {PropertySet::Address, 0x8090, "PidLidEmail2DisplayName"},
    {PropertySet::Address, 0x8092, "PidLidEmail2AddressType"},
    {PropertySet::Address, 0x8093, "PidLidEmail2EmailAddress"},
    {PropertySet::Address, 0x8094, "PidLidEmail2OriginalDisplayName"},
    {PropertySet::Address, 0x8095, "PidLidEmail2OriginalEntryId"},
    {PropertySet::Address, 0x80A0, "PidLidEmail3DisplayName"},
    {PropertySet::Address, 0x80A2, "PidLidEmail3AddressType"},
    {PropertySet::Address, 0x80A3, "PidLidEmail3EmailAddress"},
    {PropertySet::Address, 0x80A4, "PidLidEmail3OriginalDisplayName"},
    {PropertySet::Address, 0x80A5, "PidLidEmail3OriginalEntryId"},
    {PropertySet::Address, 0x80B2, "PidLidFax1AddressType"},
    {PropertySet::Address, 0x80B3, "PidLidFax1EmailAddress"},
    {PropertySet::Address, 0x80B4, "PidLidFax1OriginalDisplayName"},
    {PropertySet::Address, 0x80B5, "PidLidFax1OriginalEntryId"},
    {PropertySet::Address, 0x80C2, "PidLidFax2AddressType"},
    {PropertySet::Address, 0x80C3, "PidLidFax2EmailAddress"},
    {PropertySet::Address, 0x80C4, "PidLidFax2OriginalDisplayName"},
    {PropertySet::Address, 0x80C5, "PidLidFax2OriginalEntryId"},
    {PropertySet::Address, 0x80D2, "PidLidFax3AddressType"},
    {PropertySet::Address, 0x80D3, "PidLidFax3EmailAddress"},
    {PropertySet::Address, 0x80D4, "PidLidFax3OriginalDisplayName"},
    {PropertySet::Address, 0x80D5, "PidLidFax3OriginalEntryId"},
    {PropertySet::Address, 0x80D8, "PidLidFreeBusyLocation"},
    {PropertySet::Address, 0x80DA, "PidLidHomeAddressCountryCode"},
    {PropertySet::Address, 0x80DB, "PidLidWorkAddressCountryCode"},
    {PropertySet::Address, 0x80DC, "PidLidOtherAddressCountryCode"},
    {PropertySet::Address, 0x80DD, "PidLidAddressCountryCode"},
    {PropertySet::Address, 0x80DE, "PidLidBirthdayLocal"},
    {PropertySet::Address, 0x80DF, "PidLidWeddingAnniversaryLocal"},
    {PropertySet::Address, 0x80E0, "PidLidIsContactLinked"},
    {PropertySet::Address, 0x80E2, "PidLidContactLinkedGlobalAddressListEntryId"},
    {PropertySet::Address, 0x80E3, "PidLidContactLinkSMTPAddressCache"},
    {PropertySet::Address, 0x80E5, "PidLidContactLinkLinkRejectHistory"},
    {PropertySet::Address, 0x80E6, "PidLidContactLinkGlobalAddressListLinkState"},
    {PropertySet::Address, 0x80E8, "PidLidContactLinkGlobalAddressListLinkId"},
    {PropertySet::Appointment, 0x8201, "PidLidAppointmentSequence"},
    {PropertySet::Appointment, 0x8202, "PidLidAppointmentSequenceTime"},
    {PropertySet::Appointment, 0x8203, "PidLidAppointmentLastSequence"},
    {PropertySet::Appointment, 0x8204, "PidLidChangeHighlight"},
    {PropertySet::Appointment, 0x8205, "PidLidBusyStatus"},
    {PropertySet::Appointment, 0x8206, "PidLidFExceptionalBody"},
    {PropertySet::Appointment, 0x8207, "PidLidAppointmentAuxiliaryFlags"},
    {PropertySet::Appointment, 0x8208, "PidLidLocation"},
    {PropertySet::Appointment, 0x8209, "PidLidMeetingWorkspaceUrl"},
    {PropertySet::Appointment, 0x820A, "PidLidForwardInstance"},
    {PropertySet::Appointment, 0x820C, "PidLidLinkedTaskItems"},
    {PropertySet::Appointment, 0x820D, "PidLidAppointmentStartWhole"},
    {PropertySet::Appointment, 0x820E, "PidLidAppointmentEndWhole"},
    {PropertySet::Appointment, 0x820F, "PidLidAppointmentStartTime"},
    {PropertySet::Appointment, 0x8210, "PidLidAppointmentEndTime"},
    {PropertySet::Appointment, 0x8211, "PidLidAppointmentEndDate"},
    {PropertySet::Appointment, 0x8212, "PidLidAppointmentStartDate"},
    {PropertySet::Appointment, 0x8213, "PidLidAppointmentDuration"},
    {PropertySet::Appointment, 0x8214, "PidLidAppointmentColor"},
    {PropertySet::Appointment, 0x8215, "PidLidAppointmentSubType"},
    {PropertySet::Appointment, 0x8216, "PidLidAppointmentRecur"},
    {PropertySet::Appointment, 0x8217, "PidLidAppointmentStateFlags"},
    {PropertySet::Appointment, 0x8218, "PidLidResponseStatus"},
    {PropertySet::Appointment, 0x8220, "PidLidAppointmentReplyTime"},
    {PropertySet::Appointment, 0x8223, "PidLidRecurring"},
    {PropertySet::Appointment, 0x8224, "PidLidIntendedBusyStatus"},
    {PropertySet::Appointment, 0x8226, "PidLidAppointmentUpdateTime"},
    {PropertySet::Appointment, 0x8228, "PidLidExceptionReplaceTime"},
    {PropertySet::Appointment, 0x8229, "PidLidFInvited"},
    {PropertySet::Appointment, 0x822B, "PidLidFExceptionalAttendees"},
    {PropertySet::Appointment, 0x822E, "PidLidOwnerName"},
    {PropertySet::Appointment, 0x822F, "PidLidFOthersAppointment"},
    {PropertySet::Appointment, 0x8230, "PidLidAppointmentReplyName"},
    {PropertySet::Appointment, 0x8231, "PidLidRecurrenceType"},
    {PropertySet::Appointment, 0x8232, "PidLidRecurrencePattern"},
    {PropertySet::Appointment, 0x8233, "PidLidTimeZoneStruct"},
    {PropertySet::Appointment, 0x8234, "PidLidTimeZoneDescription"},
    {PropertySet::Appointment, 0x8235, "PidLidClipStart"},
    {PropertySet::Appointment, 0x8236, "PidLidClipEnd"},
    {PropertySet::Appointment, 0x8237, "PidLidOriginalStoreEntryId"},
    {PropertySet::Appointment, 0x8238, "PidLidAllAttendeesString"},
    {PropertySet::Appointment, 0x823A, "PidLidAutoFillLocation"},
    {PropertySet::Appointment, 0x823B, "PidLidToAttendeesString"},
    {PropertySet::Appointment, 0x823C, "PidLidCcAttendeesString"},
    {PropertySet::Appointment, 0x8240, "PidLidConferencingCheck"},
    {PropertySet::Appointment, 0x8241, "PidLidConferencingType"},
    {PropertySet::Appointment, 0x8242, "PidLidDirectory"},
    {PropertySet::Appointment, 0x8243, "PidLidOrganizerAlias"},
    {PropertySet::Appointment, 0x8244, "PidLidAutoStartCheck"},
    {PropertySet::Appointment, 0x8246, "PidLidAllowExternalCheck"},
    {PropertySet::Appointment, 0x8247, "PidLidCollaborateDoc"},
    {PropertySet::Appointment, 0x8248, "PidLidNetShowUrl"},
    {PropertySet::Appointment, 0x8249, "PidLidOnlinePassword"},
    {PropertySet::Appointment, 0x8250, "PidLidAppointmentProposedStartWhole"},
    {PropertySet::Appointment, 0x8251, "PidLidAppointmentProposedEndWhole"},
    {PropertySet::Appointment, 0x8256, "PidLidAppointmentProposedDuration"},
    {PropertySet::Appointment, 0x8257, "PidLidAppointmentCounterProposal"},
    {PropertySet::Appointment, 0x8259, "PidLidAppointmentProposalNumber"},
    {PropertySet::Appointment, 0x825A, "PidLidAppointmentNotAllowPropose"},
    {PropertySet::Appointment, 0x825D, "PidLidAppointmentUnsendableRecipients"},
    {PropertySet::Appointment, 0x825E, "PidLidAppointmentTimeZoneDefinitionStartDisplay"},
    {PropertySet::Appointment, 0x825F, "PidLidAppointmentTimeZoneDefinitionEndDisplay"},
    {PropertySet::Appointment, 0x8260, "PidLidAppointmentTimeZoneDefinitionRecur"},
    {PropertySet::Appointment, 0x8261, "PidLidForwardNotificationRecipients"},
    {PropertySet::Appointment, 0x827A, "PidLidInboundICalStream"},
    {PropertySet::Appointment, 0x827B, "PidLidSingleBodyICal"},
    {PropertySet::Meeting, 0x0001, "PidLidAttendeeCriticalChange"},
    {PropertySet::Meeting, 0x0002, "PidLidWhere"},
    {PropertySet::Meeting, 0x0003, "PidLidGlobalObjectId"},
    {PropertySet::Meeting, 0x0004, "PidLidIsSilent"},
    {PropertySet::Meeting, 0x0005, "PidLidIsRecurring"},
    {PropertySet::Meeting, 0x0006, "PidLidRequiredAttendees"},
    {PropertySet::Meeting, 0x0007, "PidLidOptionalAttendees"},
    {PropertySet::Meeting, 0x0008, "PidLidResourceAttendees"},
    {PropertySet::Meeting, 0x0009, "PidLidDelegateMail"},
    {PropertySet::Meeting, 0x000A, "PidLidIsException"},
    {PropertySet::Meeting, 0x000C, "PidLidTimeZone"},
    {PropertySet::Meeting, 0x000D, "PidLidStartRecurrenceDate"},
    {PropertySet::Meeting, 0x000E, "PidLidStartRecurrenceTime"},
    {PropertySet::Meeting, 0x000F, "PidLidEndRecurrenceDate"},
    {PropertySet::Meeting, 0x0010, "PidLidEndRecurrenceTime"},
    {PropertySet::Meeting, 0x0011, "PidLidDayInterval"},
    {PropertySet::Meeting, 0x0012, "PidLidWeekInterval"},
    {PropertySet::Meeting, 0x0013, "PidLidMonthInterval"},
    {PropertySet::Meeting, 0x0014, "PidLidYearInterval"},
    {PropertySet::Meeting, 0x0017, "PidLidMonthOfYearMask"},
    {PropertySet::Meeting, 0x0018, "PidLidOldRecurrenceType"},
    {PropertySet::Meeting, 0x001A, "PidLidOwnerCriticalChange"},
    {PropertySet::Meeting, 0x001C, "PidLidCalendarType"},
    {PropertySet::Meeting, 0x0023, "PidLidCleanGlobalObjectId"},
    {PropertySet::Meeting, 0x0024, "PidLidAppointmentMessageClass"},
    {PropertySet::Meeting, 0x0026, "PidLidMeetingType"},
    {PropertySet::Meeting, 0x0028, "PidLidOldLocation"},
    {PropertySet::Meeting, 0x0029, "PidLidOldWhenStartWhole"},
    {PropertySet::Meeting, 0x002A, "PidLidOldWhenEndWhole"},
    {PropertySet::Task, 0x8101, "PidLidTaskStatus"},
    {PropertySet::Task, 0x8102, "PidLidPercentComplete"},
    {PropertySet::Task, 0x8103, "PidLidTeamTask"},
    {PropertySet::Task, 0x8104, "PidLidTaskStartDate"},
    {PropertySet::Task, 0x8105, "PidLidTaskDueDate"},
    {PropertySet::Task, 0x8107, "PidLidTaskResetReminder"},
    {PropertySet::Task, 0x8108, "PidLidTaskAccepted"},
    {PropertySet::Task, 0x8109, "PidLidTaskDeadOccurrence"},
    {PropertySet::Task, 0x810F, "PidLidTaskDateCompleted"},
    {PropertySet::Task, 0x8110, "PidLidTaskActualEffort"},
    {PropertySet::Task, 0x8111, "PidLidTaskEstimatedEffort"},
    {PropertySet::Task, 0x8112, "PidLidTaskVersion"},
    {PropertySet::Task, 0x8113, "PidLidTaskState"},
    {PropertySet::Task, 0x8115, "PidLidTaskLastUpdate"},
    {PropertySet::Task, 0x8116, "PidLidTaskRecurrence"},
    {PropertySet::Task, 0x8117, "PidLidTaskAssigners"},
    {PropertySet::Task, 0x8119, "PidLidTaskStatusOnComplete"},
    {PropertySet::Task, 0x811A, "PidLidTaskHistory"},
    {PropertySet::Task, 0x811B, "PidLidTaskUpdates"},
    {PropertySet::Task, 0x811C, "PidLidTaskComplete"},
    {PropertySet::Task, 0x811E, "PidLidTaskFCreator"},
    {PropertySet::Task, 0x811F, "PidLidTaskOwner"},
    {PropertySet::Task, 0x8120, "PidLidTaskMultipleRecipients"},
    {PropertySet::Task, 0x8121, "PidLidTaskAssigner"},
    {PropertySet::Task, 0x8122, "PidLidTaskLastUser"},
    {PropertySet::Task, 0x8123, "PidLidTaskOrdinal"},
    {PropertySet::Task, 0x8124, "PidLidTaskNoCompute"},
    {PropertySet::Task, 0x8125, "PidLidTaskLastDelegate"},
    {PropertySet::Task, 0x8126, "PidLidTaskFRecurring"},
    {PropertySet::Task, 0x8127, "PidLidTaskRole"},
    {PropertySet::Task, 0x8129, "PidLidTaskOwnership"},
    {PropertySet::Task, 0x812A, "PidLidTaskAcceptanceState"},
    {PropertySet::Task, 0x812C, "PidLidTaskFFixOffline"},
    {PropertySet::Task, 0x8139, "PidLidTaskCustomFlags"},
    {PropertySet::Task, 0x823E, "PidLidTrustRecipientHighlights"},
    {PropertySet::Note, 0x8B00, "PidLidNoteColor"},
    {PropertySet::Note, 0x8B02, "PidLidNoteWidth"},
    {PropertySet::Note, 0x8B03, "PidLidNoteHeight"},
    {PropertySet::Note, 0x8B04, "PidLidNoteX"},
    {PropertySet::Note, 0x8B05, "PidLidNoteY"},
    {PropertySet::Log, 0x8700, "PidLidLogType"},
    {PropertySet::Log, 0x8706, "PidLidLogStart"},
    {PropertySet::Log, 0x8707, "PidLidLogDuration"},
    {PropertySet::Log, 0x8708, "PidLidLogEnd"},
    {PropertySet::Log, 0x870C, "PidLidLogFlags"},
    {PropertySet::Log, 0x870E, "PidLidLogDocumentPrinted"},
    {PropertySet::Log, 0x870F, "PidLidLogDocumentSaved"},
    {PropertySet::Log, 0x8710, "PidLidLogDocumentRouted"},
    {PropertySet::Log, 0x8711, "PidLidLogDocumentPosted"},
    {PropertySet::Log, 0x8712, "PidLidLogTypeDesc"},
    {PropertySet::PostRss, 0x8900, "PidLidPostRssChannelLink"},
    {PropertySet::PostRss, 0x8901, "PidLidPostRssItemLink"},
    {PropertySet::PostRss, 0x8902, "PidLidPostRssItemHash"},
    {PropertySet::PostRss, 0x8903, "PidLidPostRssItemGuid"},
    {PropertySet::PostRss, 0x8904, "PidLidPostRssChannel"},
    {PropertySet::PostRss, 0x8905, "PidLidPostRssItemXml"},
    {PropertySet::PostRss, 0x8906, "PidLidPostRssSubscription"},
    {PropertySet::Sharing, 0x8A00, "PidLidSharingStatus"},
    {PropertySet::Sharing, 0x8A01, "PidLidSharingProviderGuid"},
    {PropertySet::Sharing, 0x8A02, "PidLidSharingProviderName"},
    {PropertySet::Sharing, 0x8A03, "PidLidSharingProviderUrl"},
    {PropertySet::Sharing, 0x8A04, "PidLidSharingRemotePath"},
    {PropertySet::Sharing, 0x8A05, "PidLidSharingRemoteName"},
    {PropertySet::Sharing, 0x8A06, "PidLidSharingRemoteUid"},
    {PropertySet::Sharing, 0x8A07, "PidLidSharingInitiatorName"},
    {PropertySet::Sharing, 0x8A08, "PidLidSharingInitiatorSmtp"},
    {PropertySet::Sharing, 0x8A09, "PidLidSharingInitiatorEntryId"},
    {PropertySet::Sharing, 0x8A0A, "PidLidSharingFlags"},
    {PropertySet::Sharing, 0x8A0B, "PidLidSharingProviderExtension"},
    {PropertySet::Sharing, 0x8A0C, "PidLidSharingRemoteUser"},
    {PropertySet::Sharing, 0x8A0D, "PidLidSharingRemotePass"},
    {PropertySet::Sharing, 0x8A0E, "PidLidSharingLocalPath"},
    {PropertySet::Sharing, 0x8A0F, "PidLidSharingLocalName"},
    {PropertySet::Sharing, 0x8A10, "PidLidSharingLocalUid"},
    {PropertySet::Sharing, 0x8A13, "PidLidSharingFilter"},
    {PropertySet::Sharing, 0x8A14, "PidLidSharingLocalType"},
    {PropertySet::Sharing, 0x8A15, "PidLidSharingFolderEntryId"},
    {PropertySet::Sharing, 0x8A17, "PidLidSharingCapabilities"},
    {PropertySet::Sharing, 0x8A18, "PidLidSharingFlavor"},
    {PropertySet::Sharing, 0x8A19, "PidLidSharingAnonymity"},
    {PropertySet::Sharing, 0x8A1A, "PidLidSharingReciprocation"},
    {PropertySet::Sharing, 0x8A1B, "PidLidSharingPermissions"},
    {PropertySet::Sharing, 0x8A1C, "PidLidSharingInstanceGuid"},
    {PropertySet::Sharing, 0x8A1D, "PidLidSharingRemoteType"},
    {PropertySet::Sharing, 0x8A1E, "PidLidSharingParticipants"},
    {PropertySet::Sharing, 0x8A1F, "PidLidSharingLastSyncTime"},
    {PropertySet::Sharing, 0x8A21, "PidLidSharingExtensionXml"},
    {PropertySet::Sharing, 0x8A22, "PidLidSharingRemoteLastModificationTime"},
    {PropertySet::Sharing, 0x8A23, "PidLidSharingLocalLastModificationTime"},
    {PropertySet::Sharing, 0x8A24, "PidLidSharingConfigurationUrl"},
    {PropertySet::Sharing, 0x8A25, "PidLidSharingStart"},
    {PropertySet::Sharing, 0x8A26, "PidLidSharingStop"},
    {PropertySet::Sharing, 0x8A27, "PidLidSharingResponseType"},
    {PropertySet::Sharing, 0x8A28, "PidLidSharingResponseTime"},
    {PropertySet::Sharing, 0x8A29, "PidLidSharingOriginalMessageEntryId"},
    {PropertySet::Sharing, 0x8A2A, "PidLidSharingSyncInterval"},
    {PropertySet::Sharing, 0x8A2B, "PidLidSharingDetail"},
    {PropertySet::Sharing, 0x8A2C, "PidLidSharingTimeToLive"},
    {PropertySet::Sharing, 0x8A2D, "PidLidSharingBindingEntryId"},
    {PropertySet::Sharing, 0x8A2E, "PidLidSharingIndexEntryId"},
    {PropertySet::Sharing, 0x8A2F, "PidLidSharingRemoteComment"},
    {PropertySet::Sharing, 0x8A40, "PidLidSharingWorkingHoursStart"},
    {PropertySet::Sharing, 0x8A41, "PidLidSharingWorkingHoursEnd"},
    {PropertySet::Sharing, 0x8A42, "PidLidSharingWorkingHoursDays"},
    {PropertySet::Sharing, 0x8A43, "PidLidSharingWorkingHoursTimeZone"},
    {PropertySet::Sharing, 0x8A44, "PidLidSharingDataRangeStart"},
    {PropertySet::Sharing, 0x8A45, "PidLidSharingDataRangeEnd"},
    {PropertySet::Sharing, 0x8A46, "PidLidSharingRangeStart"},
    {PropertySet::Sharing, 0x8A47, "PidLidSharingRangeEnd"},
    {PropertySet::Sharing, 0x8A48, "PidLidSharingRemoteStoreUid"},
    {PropertySet::Sharing, 0x8A49, "PidLidSharingLocalStoreUid"},
    {PropertySet::Sharing, 0x8A4B, "PidLidSharingRemoteByteSize"},
    {PropertySet::Sharing, 0x8A4C, "PidLidSharingRemoteCrc"},
    {PropertySet::Sharing, 0x8A4D, "PidLidSharingLocalComment"},
    {PropertySet::Sharing, 0x8A4E, "PidLidSharingRoamLog"},
    {PropertySet::Sharing, 0x8A4F, "PidLidSharingRemoteMessageCount"},
    {PropertySet::Sharing, 0x8A51, "PidLidSharingBrowseUrl"},
    {PropertySet::Sharing, 0x8A55, "PidLidSharingLastAutoSyncTime"},
    {PropertySet::Sharing, 0x8A56, "PidLidSharingTimeToLiveAuto"},
    {PropertySet::Sharing, 0x8A5B, "PidLidSharingRemoteVersion"},
    {PropertySet::Sharing, 0x8A5C, "PidLidSharingParentBindingEntryId"},
    {PropertySet::Sharing, 0x8A60, "PidLidSharingSyncFlags"},
    {PropertySet::CalendarAssistant, 0x0015, "PidLidClientIntent"},
    {PropertySet::CalendarAssistant, 0x85CC, "PidLidServerProcessed"},
    {PropertySet::CalendarAssistant, 0x85CD, "PidLidServerProcessingActions"},
    {PropertySet::PublicStrings, 0x9000, "PidLidCategories"},
};

const SetRow* FindSet(const std::string& guidText) {
  for (const SetRow& row : kSets) {
    if (guidText == row.guid)
      return &row;
  }
  return nullptr;
}

uint32_t Le32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

uint16_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::string GuidTextAt(const std::string& bytes, size_t at) {
  return GuidText(reinterpret_cast<const unsigned char*>(bytes.data() + at));
}

const std::string& StreamBytes(const TMSGProperties& map, uint32_t tag) {
  static const std::string kNone;
  const TMSGProperty* record = map.FindProperty(tag, false, false);
  return record != nullptr && record->Value.IsBytes() ? record->Value.Bytes() : kNone;
}

// The names of one map, by property id - 0x8000.
struct MapNames {
  const TMSGProperty* node = nullptr;
  uint64_t generation = 0;
  std::vector<TNamedProperty> byIndex; // PropId 0 where the map names nothing
};

const TNamedProperty* NamedPropertyOf(const TMSGProperty& record) {
  if (record.Collection() == nullptr)
    return nullptr;
  const TMSGProperty* node = record.Collection()->Root().FindPropertyCached(TAG_NAMEID_NODE);
  if (node == nullptr)
    return nullptr;
  // The last map read: a dump or an inspector asks for the names of one message at a time.
  static thread_local MapNames cached;
  const uint64_t now = TreeGeneration();
  if (cached.node != node || cached.generation != now) {
    cached.node = node;
    cached.generation = ObserveTreeGeneration();
    cached.byIndex.clear();
    for (TNamedProperty& named : ReadNamedPropertyMap(*node)) {
      const size_t index = named.PropId - 0x8000u;
      if (cached.byIndex.size() <= index)
        cached.byIndex.resize(index + 1);
      if (cached.byIndex[index].PropId == 0)
        cached.byIndex[index] = std::move(named);
    }
  }
  const uint16_t id = PropId(record.TagID);
  if (id < 0x8000 || id - 0x8000u >= cached.byIndex.size())
    return nullptr;
  const TNamedProperty& named = cached.byIndex[id - 0x8000u];
  return named.PropId != 0 ? &named : nullptr;
}

} // namespace

std::vector<TNamedProperty> ReadNamedPropertyMap(const TMSGProperty& mapNode) {
  std::vector<TNamedProperty> names;
  const TMSGProperties& map = mapNode.SubProperties();
  const std::string& guids = StreamBytes(map, TAG_NAMEID_GUIDS);
  const std::string& entries = StreamBytes(map, TAG_NAMEID_ENTRIES);
  const std::string& strings = StreamBytes(map, TAG_NAMEID_STRINGS);
  names.reserve(entries.size() / 8);
  for (size_t at = 0; at + 8 <= entries.size(); at += 8) {
    const uint32_t idOrOffset = Le32(entries, at);
    const uint16_t indexAndKind = Le16(entries, at + 4);
    const uint16_t propertyIndex = Le16(entries, at + 6);
    if (propertyIndex > 0x7FFE)
      continue;
    TNamedProperty named;
    named.PropId = static_cast<uint16_t>(0x8000 + propertyIndex);
    const size_t guidIndex = indexAndKind >> 1;
    if (guidIndex == 1) {
      named.SetGuid = kSets[static_cast<size_t>(PropertySet::Mapi)].guid;
    } else if (guidIndex == 2) {
      named.SetGuid = kSets[static_cast<size_t>(PropertySet::PublicStrings)].guid;
    } else if (guidIndex >= 3 && (guidIndex - 3) < guids.size() / 16) {
      named.SetGuid = GuidTextAt(guids, (guidIndex - 3) * 16);
    } else {
      continue;
    }
    if ((indexAndKind & 1) != 0) {
      const size_t offset = idOrOffset;
      if (offset > strings.size() || strings.size() - offset < 4)
        continue;
      const size_t length = Le32(strings, offset);
      if (length > strings.size() - offset - 4)
        continue;
      named.IsString = true;
      for (size_t i = 0; i + 1 < length; i += 2)
        named.Name.push_back(static_cast<char16_t>(Le16(strings, offset + 4 + i)));
    } else {
      named.Lid = idOrOffset;
    }
    names.push_back(std::move(named));
  }
  return names;
}

const char* PropertySetName(const std::string& guidText) {
  const SetRow* row = FindSet(guidText);
  return row != nullptr ? row->name : "";
}

const char* CanonicalLidName(const std::string& guidText, uint32_t lid) {
  const SetRow* set = FindSet(guidText);
  if (set == nullptr)
    return nullptr;
  const auto row = std::lower_bound(
      std::begin(kLids), std::end(kLids), std::pair(set->set, lid), [](const LidRow& r, auto key) {
        return r.set != key.first ? r.set < key.first : r.lid < key.second;
      });
  return row != std::end(kLids) && row->set == set->set && row->lid == lid ? row->name : nullptr;
}

std::string PropertyDisplayName(const TMSGProperty& record, bool withDescription) {
  const TNamedProperty* named =
      PropId(record.TagID) >= 0x8000 && record.SubProperties().Count() == 0
          ? NamedPropertyOf(record)
          : nullptr;
  if (named == nullptr) {
    // Ids from 0x8000 up mean what the file's own map says: where the file has a map that does
    // not name the id, the dictionary's fixed meaning of that number would be a guess.
    if (PropId(record.TagID) >= 0x8000 && record.SubProperties().Count() == 0 &&
        record.Collection() != nullptr &&
        record.Collection()->Root().FindPropertyCached(TAG_NAMEID_NODE) != nullptr)
      return {};
    return record.GetName(withDescription, false);
  }
  const char* setName = PropertySetName(named->SetGuid);
  const std::string set = *setName != '\0' ? setName : named->SetGuid;
  std::string name;
  if (named->IsString) {
    name = utf8::Encode(named->Name);
  } else if (const char* canonical = CanonicalLidName(named->SetGuid, named->Lid)) {
    name = canonical;
  } else {
    char lid[16];
    std::snprintf(lid, sizeof lid, ":0x%08X", named->Lid);
    name = set + lid;
  }
  return withDescription ? name + " (" + set + ")" : name;
}

} // namespace orlendo
