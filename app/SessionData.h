// One backup job (a session) and its XML file. The record keeps the job's
// values and the document it was loaded from or saved to, so that a save
// updates the user's file in place (other elements and comments stay).
#pragma once
#include "framework/Dialogs.h"
#include "framework/Strings.h"
#include "framework/XmlDoc.h"
#include <functional>
#include <memory>
#include <string>

namespace krv {

// Where a backup goes: an ISO image burnt on a disc, or an archive in a
// folder. The session file holds the number.
enum TBackupMode : int { bmDisc = 0, bmHardDisk = 1 };

// The plain values of a session: copied whole when a load is checked in a
// scratch record before it replaces the current one.
struct TSessionValues {
    std::string SessionName;
    std::string Address;
    std::string SMTP;
    std::string UserName;
    std::string Password;
    std::string ArchiveName;
    std::string InclusionMask;
    std::string ExclusionMask;
    std::string DirHD;
    TStringList SelectedFolders;
    TStringList UnselectedFolders;
    bool FiltersActive = false;
    bool MailActive = false;
    bool DoLogin = false;
    bool SubFolders = false;
    bool RWDisk = false;
    bool Modified = false;
    bool CloseKRV = false;
    bool OverwriteHD = false;
    bool NeverSaved = false;
    int Log = 0;
    TBackupMode Type = bmDisc;
    int Device = 0;
    TDateTime Creation = 0;
    TDateTime LastSave = 0;
    TDateTime LastBackup = 0;
    bool RebuildNeeded = false;
    // Dates of the loaded file that this computer's date format cannot read
    // ("LastBackup \"31/12/2026\"", ...): they count as none, and the load goes on.
    std::string UnreadableDates;
};

class TSessionData : public TSessionValues {
public:
    TSessionData() = default;
    TSessionData(const TSessionData&) = delete;
    TSessionData& operator=(const TSessionData&) = delete;

    // The clock behind Creation and LastSave (local time); tests replace it.
    static std::function<TDateTime()> Clock;

    // Reset values, a new empty ISO-8859-1 document holding the whole layout.
    // The mail server, address and login survive.
    void Reset(const std::string& unsavedName = "Unsaved");
    // Drops the document and empties both folder lists.
    void Clear();
    // Appends the whole layout to a document that has no root element.
    void BuildXml();
    // Writes the values into the existing document in place.
    void UpdateXml();
    // Reads the document into the record; false for a missing required
    // element or a value that does not convert (fields read so far changed).
    bool ParseXml();
    // Reads a session file. A failure leaves the record and its document
    // exactly as they were; success replaces both and clears NeverSaved.
    bool LoadFromFile(const std::string& fileName);
    // Sets LastSave and writes the file (replaced whole, through a temporary
    // file). A write failure raises EXmlError and leaves Modified set; a
    // value that a load would refuse (SaveProblem) raises Exception and
    // writes nothing.
    void SaveToFile(const std::string& fileName);
    // The first value longer than a load of the file takes (TooLongLine),
    // or empty: what the program saves, it loads again.
    std::string SaveProblem() const;

    TXmlDocument* Document() const { return document_.get(); }

    // Why the last load or parse refused the file, when a value was the
    // reason (too long, an unknown destination type, a file too large);
    // empty otherwise.
    std::string LoadProblem;
    // The system's error when the last load could not open the file at all
    // (missing, held by another program, access denied); 0 when it could.
    unsigned long OpenError = 0;
    // The line that says why fileName did not load, by the last load's failure.
    std::string LoadFailureLine(const std::string& fileName) const;

private:
    void EnsureDocument();
    std::unique_ptr<TXmlDocument> document_;
};

// An archive's file name, from the session or the command line, is a file name.
constexpr size_t kMaxArchiveNameLength = 255;
// The characters (code points, not bytes) of a text in that code page: what
// every limit on a value counts.
size_t CharacterCount(const std::string& text, unsigned codePage = 0 /* CP_ACP */);
// The most characters the session value of that element name takes (the
// window's fields take no more).
size_t SessionValueLimit(const std::string& name);
// "A value given is too long to be used: SessionName holds 300000 characters, the limit is 255."
std::string TooLongLine(const std::string& name, size_t length, size_t limit);
// That line when the text holds more characters than the limit, else empty.
std::string TooLongProblem(const std::string& name, const std::string& text, size_t limit);

// The largest session file read: far above what thousands of folders take.
constexpr unsigned long kMaxSessionFileBytes = 8 * 1024 * 1024;

// Rewrites GenericOptions/LastBackup of a session file on disk with the
// session's LastBackup; every other byte of meaning stays. A file that cannot
// be read as a session file is left untouched: false, with the reason in
// `error`. A write failure also gives false.
bool UpdateLastBackupInFile(const TSessionData& session, const std::string& fileName, std::string* error = nullptr);

// The text forms of session values, as written in the file and read back
// with the platform's variant conversions under the user's locale.
std::string SessionBoolToText(bool value);
std::string SessionDateToText(TDateTime value);
bool SessionTextToBool(const std::string& text, bool& value);
bool SessionTextToInt(const std::string& text, int& value);
bool SessionTextToDate(const std::string& text, TDateTime& value);

} // namespace krv
