#include "app/message_strings.h"

#include <map>

#include "model/qvmsgcnst.h"

namespace orlendo {
namespace {

std::map<std::string, std::string>& Current() {
  static std::map<std::string, std::string> current = [] {
    std::map<std::string, std::string> m;
    for (const auto& s : MessageStringTable())
      m[s.Key] = s.Default;
    return m;
  }();
  return current;
}

} // namespace

const std::vector<TMessageString>& MessageStringTable() {
  static const std::vector<TMessageString> table = {
      {"strExtRegistered", "successfully registered as default viewer for files"},
      {"strExtUnRegistered", "successfully unregistered as default viewer for files"},
      {"AllFileExt", "All files (*.*)|*.*"},
      {"MsgFileExt", "MS Outlook messages (*.msg)|*.msg"},
      {"EMLFileExt", "Email files (*.eml)|*.eml|Apple mail files (*.emlx)|*.emlx"},
      {"MHTFileExt", "MHTML Documents (*.mht)|*.mht"},
      {"strSetDefaultLanguage",
       "Default language interface will be loaded only after restarting application..."},
      {"strCurVerInfo", "Your current version is %s"},
      {"strNewVerInfo", "The new available version is %s"},
      {"strUpdateInfo", "You can download the new version from https://www.norvane.com/quillet/ "
                        "or request it from updates@norvane.com."},
      {"strURLNotOpened", "Cannot open URL %s"},
      {"strWinInetFailed", "Unable to initialize Wininet"},
      {"strRemoteFileNotFound", "Remote file with version information is not found."},
      {"strQvInProxyLogon", "Proxy Server authorization"},
      {"strLastVersionUsed", "You use the latest version. Check for new version later."},
      {"strFileName", "File name:"},
      {"strSavedSuccesfully", "%s file created succesfully."},
      {"strHighestPriority", "This message was sent with Highest importance."},
      {"strHighPriority", "This message was sent with High importance."},
      {"strLowPriority", "This message was sent with Low importance."},
      {"strLowestPriority", "This message was sent with Lowest importance."},
      {"strENotFindInBody", "Could not find \"%s\" in body."},
      {"strFileExplorer", "File Explorer"},
      {"strFileRecent", "Recent files"},
      {"strFileOpened", "Opened files"},
      {"strFileFavorites", "Favorites"},
      {"strDeleteFileFromFavorites",
       "Are you sure that you want to delete the selected file (%s) from Favorites?"},
      // The recent-list prompt has no key of its own elsewhere; this one follows the favourites'.
      {"strDeleteFileFromRecent",
       "Are you sure that you want to delete the selected file (%s) from Recent?"},
      // Saving attachments into a folder that already holds a file of the name.
      {"strFileExists", "A file named \"%s\" already exists in this folder."},
      {"strReplaceFile", "&Replace"},
      {"strKeepBothFiles", "&Keep both"},
      {"strSkipFile", "&Skip"},
      {"strForAllFiles", "Do this for &all files"},
      // The banner of signed and encrypted messages.
      {"strSignatureChecking", "Checking the signature..."},
      {"strSignedBy", "Signed by %s"},
      {"strSignerUnknown", "an unknown signer"},
      {"strSignedAt", "on %s"},
      {"strSignatureValid", "The signature is valid."},
      {"strSignatureInvalid",
       "The signature is NOT valid: the content was changed after it was signed."},
      {"strSignatureUntrusted",
       "The signature matches the content, but the signer is not trusted: %s."},
      {"strSignatureUnchecked", "The signature cannot be checked: %s."},
      {"strEncryptedTo", "This message is encrypted to %s."},
      {"strRecipientUnknown", "an unknown recipient"},
      {"strDecryptedShown", "This message is encrypted; it is shown decrypted."},
      {"strDecryptButton", "&Decrypt..."},
      {"strDecryptFailed", "The message cannot be decrypted."},
      // Opening an attachment that runs as a program; %s is its name.
      {"strOpenRunnable", "\"%s\" is a program or script: opening it runs it, with your rights. "
                          "Open it only when you trust its sender.\n\nOpen it?"},
      // The header block of items that are not mail: calendar items, contacts, tasks, notes.
      // "%s" is filled in order.
      {"strItemWhen", "When:"},
      {"strItemWhere", "Where:"},
      {"strItemOrganizer", "Organizer:"},
      {"strItemRequired", "Required:"},
      {"strItemOptional", "Optional:"},
      {"strItemResources", "Resources:"},
      {"strItemRecurrence", "Recurrence:"},
      {"strItemReminder", "Reminder:"},
      {"strItemMinutesBefore", "%s minutes before"},
      {"strItemShowAs", "Show as:"},
      {"strItemBusyStatuses", "Free|Tentative|Busy|Out of office|Working elsewhere"},
      {"strItemAllDay", "all day"},
      {"strItemLocalTime", "local time"},
      {"strMeetingRequest", "Meeting request: %s"},
      {"strMeetingAccepted", "Accepted: %s"},
      {"strMeetingTentative", "Tentatively accepted: %s"},
      {"strMeetingDeclined", "Declined: %s"},
      {"strMeetingCanceled", "Canceled: %s"},
      {"strRecurDaily", "Every day"},
      {"strRecurDays", "Every %s days"},
      {"strRecurWeekly", "Every %s"},
      {"strRecurWeeks", "Every %s weeks on %s"},
      {"strRecurMonthly", "Day %s of every month"},
      {"strRecurMonths", "Day %s of every %s months"},
      {"strRecurMonthlyNth", "The %s %s of every month"},
      {"strRecurMonthsNth", "The %s %s of every %s months"},
      {"strRecurLastDay", "The last day of every month"},
      {"strRecurYearly", "Every %s"},
      {"strRecurYearlyNth", "The %s %s of %s"},
      {"strRecurFrom", "from %s"},
      {"strRecurUntil", "until %s"},
      {"strRecurTimes", "%s times"},
      {"strRecurCancelled", "Cancelled: %s"},
      {"strRecurMoved", "Moved: %s to %s"},
      {"strRecurOrdinals", "first|second|third|fourth|last"},
      {"strRecurAnd", "and"},
      {"strContactCompany", "Company:"},
      {"strContactJobTitle", "Job title:"},
      {"strContactDepartment", "Department:"},
      {"strContactEmail", "E-mail:"},
      {"strContactPhones", "work|home|mobile|main|car|pager|assistant|callback|ISDN|radio|telex|"
                           "text phone|other|work fax|home fax|fax"},
      {"strContactPhone", "Phone:"},
      {"strContactAddresses", "Business address:|Home address:|Other address:"},
      {"strContactWeb", "Web page:"},
      {"strContactBirthday", "Birthday:"},
      {"strContactAnniversary", "Anniversary:"},
      {"strDistListMembers", "Members:"},
      {"strTaskStatus", "Status:"},
      {"strTaskStatuses", "Not started|In progress|Completed|Waiting on someone else|Deferred"},
      {"strTaskComplete", "%s%% complete"},
      {"strTaskStart", "Start date:"},
      {"strTaskDue", "Due date:"},
      {"strTaskCompleted", "Date completed:"},
      {"strTaskOwner", "Owner:"},
      {"strTaskPriority", "Priority:"},
      {"strTaskPriorities", "Low|Normal|High"},
      {"strNoteColour", "Colour:"},
      {"strNoteColours", "Blue|Green|Pink|Yellow|White"},
      {"strDayNames", "Sunday|Monday|Tuesday|Wednesday|Thursday|Friday|Saturday"},
      {"strMonthNames", "January|February|March|April|May|June|July|August|September|October|"
                        "November|December"},
      // Day name, day, month name, year; and day, month name, year.
      {"strLongDate", "%s, %s %s %s"},
      {"strShortDate", "%s %s %s"},
      // The notes above the preview's header: what a load could not read as the file asked.
      {SUnknownCharsetKey, SUnknownCharset},
      // After the names of damaged winmail.dat attachments.
      {"strTnefDamaged", "What could be read of it is shown; the attachment keeps it as it came."},
  };
  return table;
}

const std::string& MessageString(const std::string& key) {
  auto& m = Current();
  auto it = m.find(key);
  if (it != m.end())
    return it->second;
  static thread_local std::string unknown;
  unknown = key;
  return unknown;
}

void SetMessageString(const std::string& key, const std::string& text) {
  auto& m = Current();
  auto it = m.find(key);
  if (it != m.end())
    it->second = text;
}

void ResetMessageStrings() {
  for (const auto& s : MessageStringTable())
    Current()[s.Key] = s.Default;
}

} // namespace orlendo
