// The message table: every text the program shows, logs or mails, one
// program-wide string per language-file key, filled from the language object
// (English defaults when a key is missing), plus the texts composed from them.
// Code reads a variable at the moment it shows the text, so a refill after a
// language change reaches every later message.
#pragma once
#include <string>
#include <vector>

namespace krv {

class TLang;

constexpr const char* kProductName = "Korvane";
constexpr const char* kProductVersion = "0.9.1";
// The web page named in the report mail's footer.
constexpr const char* kProductWebPage = "https://korvane.example/";

// Key and English default, in fill order.
#define KRV_MESSAGE_TABLE(X) \
    X(KV_0Byte, "0 bytes") \
    X(KV_LastSave, "Last save") \
    X(KV_LastBackup, "Last backup") \
    X(KV_ShowLog, "Show Log") \
    X(KV_HideLog, "Hide Log") \
    X(KV_ZPErrorCodeTXT, "Zip error code:") \
    X(KV_ZPFileLocked, "is locked by another process, skipped.") \
    X(KV_ZPFileNotFound, "not found, skipped.") \
    X(LogLevel1, "No report") \
    X(LogLevel2, "Basic") \
    X(LogLevel3, "Advanced") \
    X(LogLevel4, "Full") \
    X(KV_CopyRight_1, "Mail report done with ") \
    X(KV_CopyRight_3, "View") \
    X(KV_CopyRight_4, "for more details.") \
    X(KV_Boot_1, " starting...") \
    X(KV_Ready_Txt_1, " ready") \
    X(KV_NoCDBackup, "The backup on Disc will be disabled, only the hard disk backup is available.") \
    X(KV_Sorry, "Sorry") \
    X(KV_NoDevices_1, "has found no compatible writing devices on this computer.") \
    X(KV_CDR_NumDevice, " device found") \
    X(KV_Tree_Start, "Scanning drives...") \
    X(KV_Tree_Found, "Folders tree generated") \
    X(KV_IncludeSubF, "Include SubFolders ON") \
    X(KV_NotIncludeSubF, "Include SubFolders OFF") \
    X(KV_CheckFolder, "Selected: ") \
    X(KV_UnCheckFolder, "Unselected: ") \
    X(KV_Error, "Error") \
    X(KV_UnKnownCheckFolder, "Unknown state: ") \
    X(KV_Aborted, "Operation aborted") \
    X(KV_UserCancel, "Interrupted by user") \
    X(KV_Mail_Connected, "SMTP Connected, sending mail...") \
    X(KV_Mail_Sent, "SMTP Mail sent, quit...") \
    X(KV_Mail_Disconnected, "SMTP Disconnected") \
    X(KV_Mail_Aborting, "SMTP Error, Aborting...") \
    X(KV_Mail_Error, "SMTP Error: ") \
    X(KV_Mail_SocketError, "SMTP Socket Error: ") \
    X(KV_Mail_Msg, "Mail: ") \
    X(KV_Mail_Subject_1, "Mail Notification:") \
    X(KV_Mail_Subject_Ok, "Backup Saved.") \
    X(KV_Mail_Subject_Error, "Error!") \
    X(KV_Mail_Msg_Ok, "The backup has been correctly saved.") \
    X(KV_Mail_Msg_Error_1, "The backup has been stopped due to an error.") \
    X(KV_Mail_Msg_Error_2, "View the log for further details.") \
    X(KV_Start_Zip, "Compressing files...") \
    X(KV_Mkisofs_NotFound, "File \"mkisofs.exe\" not found.") \
    X(KV_CDRecord_NotFound, "File \"cdrecord.exe\" not found.") \
    X(KV_Cygwin_NotFound, "File \"cygwin1.dll\" not found.") \
    X(KV_Zip_BaseName, "Backup") \
    X(KV_ZipCreated, "Zip file created") \
    X(KV_ISO_Start, "Generating ISO...") \
    X(KV_ISO_OK, "ISO created") \
    X(KV_ISO_Error, "Error generating ISO") \
    X(KV_ISO_Error_Title, "Warning!") \
    X(KV_Zip_Deleted, "Zip file deleted") \
    X(KV_ISOBurn_Start, "Burning ISO...") \
    X(KV_ISOBurn_OK, "ISO burned") \
    X(KV_ISOBurn_Error, "Error burning ISO") \
    X(KV_ISOBurn_Error_Title, "Warning!") \
    X(KV_ISO_Deleted, "ISO file deleted") \
    X(KV_CDR_Scanbus, "Scanning BUS for devices...") \
    X(KV_CDR_Checking, "Checking devices...") \
    X(KV_CDR_Testing, "Testing devices...") \
    X(KV_Format_Start, "Formatting disc...") \
    X(KV_Format_Error, "Format error") \
    X(KV_Format_Error_Title, "Warning!") \
    X(KV_Format_OK, "Disc formatted") \
    X(KV_UserCancel_Confirm, "Do you really want to stop the task?") \
    X(KV_UserCancel_Conform_Title, "Warning!!") \
    X(KV_UserCancelLabel, "Aborting task...") \
    X(KV_CDR_GraceTime, "Task starting in two seconds...") \
    X(KV_ArchiveFileName_Error_1, "There is a wrong character in the backup's file name.") \
    X(KV_ArchiveFileName_Error_2, "The characters \\ | \" / * ? > < : are not allowed.") \
    X(KV_ArchiveFileName_Error_Title, "Warning!") \
    X(KV_WritingStart, "Writing Disc...") \
    X(KV_ScanningStart, "Scanning Devices...") \
    X(KV_Reset, "Interface cleared") \
    X(KV_Session_New, "Session never saved") \
    X(KV_Session_Saved, "Session saved") \
    X(KV_Session_Loaded, "Session loaded") \
    X(KV_Save_Session, "The Session has been modified, do you want to save it?") \
    X(KV_Save_Session_Title, "Session modified") \
    X(KV_SessionName, "Loaded session name") \
    X(KV_NewSessionName, "Session never saved") \
    X(KV_CloseKV, " will close after the backup") \
    X(KV_NotCloseKV, " will not close after the backup") \
    X(KQ_NoTempDir, "The temp folder must exists!") \
    X(KQ_NoTempDir_Title, "Error!") \
    X(KQ_NoDirHD, "Invalid destination folder.") \
    X(KQ_NoDirHD_Title, "Error!") \
    X(KV_Unsaved, "Unsaved") \
    X(KV_BackupDone, "Backup done") \
    X(KV_NoZipFileName_1, "has failed to find a free name for the backup.") \
    X(KV_NoZipFileName_2, "There are too many backups with similar names.") \
    X(KV_NoZipFileName_Title, "Error!") \
    X(KV_CheckingDirs, "Checking folders to be added...") \
    X(KV_CheckingSize, "Checking folders size...") \
    X(KV_Reading, "Reading dir:") \
    X(KV_BackupStarted, "Backup started at ") \
    X(KV_CheckingBackupSize, "Checking backup size...") \
    X(KV_HDZipCreated, "The backup zip file has been created in the selected folder:") \
    X(KV_PrepZip, "Preparing compression task...") \
    X(KV_HDZipCreatedTime, "Zip file created in ") \
    X(KV_MakeISOTime, "ISO created in ") \
    X(KV_FormatDiscTime, "Disc blanked in ") \
    X(KV_WriteISOTime, "Disc burned in ") \
    X(KV_Retry_ChangeDisk_1, "If you want to continue, CHANGE the disc and press YES.") \
    X(KV_Retry_ChangeDisk_2, "Otherwise, to interrupt the backup, press NO.") \
    X(KV_Retry_ChangeDisk_Title, "change Disc?") \
    X(KV_ArchiveNameChanged, "The archive name has been changed to ") \
    X(KV_NeedToSaveSession, "Before generating a link to this session, you need to save it!") \
    X(KV_NeedToSaveSession_Title, "Error") \
    X(KQ_XmlError_1, " is not a valid ") \
    X(KQ_XmlError_2, " Session file.") \
    X(KQ_XmlError_Title, "Error") \
    X(KV_NoFreeSpace_1, "Warning: the disk free space may not be enough to backup all the selected folders") \
    X(KV_NoFreeSpace_2, "Press CANCEL to abort the operation or OK to go on.") \
    X(KV_NoFreeSpace_Title, "Warning") \
    X(KV_UnitFreeSpace, "Free space: ") \
    X(KV_ZipCheckingFiles, "Checking files...") \
    X(KV_ZipFilesChecked, "Files checked.") \
    X(KV_Adding, "Adding ") \
    X(KV_NoValidDir, "The destination folder is not a valid directory!") \
    X(KV_NoValidDir_Title, "Error!") \
    X(KV_Never, "Never") \
    X(KV_WarningWaitChecking, "Warning: this might take a few minutes...") \
    X(KV_LangFileError, "Error reading the selected language file. Using the default language: English.") \
    X(KV_VersionTxt, "version") \
    X(KV_Mail_Sending, "Sending mail...") \
    X(KV_CheckingDirs_AppTitle_1, " :: Checking Dirs...") \
    X(KV_CheckingFreeSpace_AppTitle_1, " :: Checking Free Space...") \
    X(KV_Zipping_AppTitle_1, " :: Compressing Files...") \
    X(KV_MakingISO_AppTitle_1, " :: Making ISO File...") \
    X(KV_Blanking_AppTitle_1, " :: Formatting Disc...") \
    X(KV_Burning_AppTitle_1, " :: Writing Disc...") \
    X(KV_Mailing_AppTitle_1, " :: Mailing Report...") \
    X(KV_Restart_Lang_Title, "Changing Language") \
    X(KV_Restart_Lang_1, "You need to restart ") \
    X(KV_Restart_Lang_2, " to reset the language to the default value.") \
    X(KV_About_Title, " :: About") \
    X(KV_ViewLog_Title, " :: View Report") \
    X(KV_Options_Title, " :: Options") \
    X(KV_GenLink_Title, " :: Generate Session Shortcut") \
    X(KV_ZipWait_Title, " :: File compression...") \
    X(KV_OpenDialogTitle, "Open session...") \
    X(KV_SaveDialogTitle, "Save session...") \
    X(KV_Report_NotSaved, "The report could not be saved as ") \
    X(KV_Report_SavedAs, "The report has been saved as ") \
    X(KV_Mail_TimeLimit, "the mail was given up, as it did not end within ") \
    X(KV_Date_Unreadable, "A date in the session file cannot be read in this computer's date format and counts as none: ") \
    X(KV_LastBackup_NotSaved, "The last backup time was not saved in the session file ") \
    X(KV_ArchivePathTooLong, "The backup's path is too long for Windows:") \
    X(KV_ArchiveReadOnly, "The archive is read-only and is not replaced:") \
    X(KV_StaleArchiveRemoved, "Removed an unfinished archive left by a stopped run:") \
    X(KV_Field_TooLong, "A value given is too long to be used:") \
    X(KV_Field_Holds, "holds") \
    X(KV_Field_Limit, "characters, the limit is") \
    X(KV_Field_UnknownType, "The session names a destination type the program does not know (0 disc, 1 hard disk):") \
    X(KV_Field_FileTooLarge, "The session file is too large to be read:") \
    X(KV_Field_BytesLimit, "bytes, the limit is") \
    X(KV_Summary_Archive, "Archive:") \
    X(KV_Summary_Files, "Files archived:") \
    X(KV_Summary_Bytes, "bytes") \
    X(KV_Summary_LeftOut, "Left out:") \
    X(KV_NothingSelected, "no folder is selected for the backup") \
    X(KV_SessionEnds, "Windows is ending the session: the backup is stopped") \
    X(KV_SessionFileMissing, " does not exist.") \
    X(KV_BytesFree, "bytes free") \
    X(KV_BytesWanted, "bytes wanted") \
    X(KV_Report_InUse, "Another run of this session is writing its report; this report is saved as ") \
    X(KV_Report_BadChars, "The session name holds characters not allowed in a file name.") \
    X(KV_Report_TempFolder, "The temp folder") \
    X(KV_Report_TempNotMade, "does not exist and cannot be created.") \
    X(KV_Report_TempMadeAgain, "was missing and has been created again.") \
    X(KV_Report_TempPathTooLong, "The temp folder's path is too long") \
    X(KV_ZPFileUnread, "could not be read while it was being archived, skipped.") \
    X(KV_ZPFileCannotRead, "cannot be read, skipped:") \
    X(KV_ZPFileChanged, "changed while it was read, skipped.") \
    X(KV_ZPFileReadFailed, "could not be read:") \
    X(KV_ZPFileChangedStored, "changed while it was read; the stored copy may not be whole.") \
    X(KV_Summary_Changed, "Of these, changed while read:") \
    X(KV_FolderDenied, "cannot be read: access denied") \
    X(KV_FolderTooLong, "the path is too long to be read") \
    X(KV_FolderLink, "a link to a folder, not followed") \
    X(KV_FolderLinkCovered, "a link to a folder, not followed: its target is backed up") \
    X(KV_FolderLinkExcluded, "a link to a folder, not followed: its target is excluded") \
    X(KV_FolderCannotRead, "cannot be read:") \
    X(KV_ArchiveFileName_Device, "The backup's file name is a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, also with an extension), not allowed for a file.") \
    X(KV_Session_NotSaved, "The session is not saved, as it could not be loaded again:") \
    X(KV_SessionFileCannotOpen, " cannot be opened:") \
    X(KV_NoZipFileName_TooLong, "The next free name would be longer than a file name or a path may be:") \

#define KRV_DECLARE_MESSAGE(key, text) extern std::string key;
KRV_MESSAGE_TABLE(KRV_DECLARE_MESSAGE)
#undef KRV_DECLARE_MESSAGE

// Composed texts, rebuilt after every fill.
extern std::string KrvMailFooter;
extern std::string KrvStartingLine;       // "Korvane 0.9.1 starting..."
extern std::string KrvReadyLine;
extern std::string KrvNoRecorderMessage;
extern std::string KrvMailSubjectPrefix;
extern std::string KrvMailErrorBody;
extern std::string KrvArchiveNameError;
extern std::string KrvNoFreeName;
extern std::string KrvChangeDiscQuestion;
extern std::string KrvSessionFileError;
extern std::string KrvTitleCheckingDirs;
extern std::string KrvTitleCheckingFreeSpace;
extern std::string KrvTitleZipping;
extern std::string KrvTitleMakingISO;
extern std::string KrvTitleBlanking;
extern std::string KrvTitleBurning;
extern std::string KrvTitleMailing;
extern std::string KrvRestartLangMessage;

struct MessageEntry {
    const char* Key;
    const char* EnglishDefault;
    std::string* Variable;
};
// Every row of the table, in fill order.
const std::vector<MessageEntry>& MessageTable();

// Fills every variable from the language (its English default when the
// language lacks the key), then rebuilds the composed texts.
void LoadLanguageStrings(const TLang& lang);

} // namespace krv
