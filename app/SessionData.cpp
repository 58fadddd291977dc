#include "app/SessionData.h"
#include "app/Messages.h"
#include "framework/Handle.h"
#include "shell/base/WideStrUtils.h"
#include <oleauto.h>
#include <algorithm>
#include <variant>

namespace krv {
namespace {

const char* const kRootName = "Korvane";
const char* const kVersion = "0.9.1";
const char* const kDirsName = "SelectedDirectories";
const char* const kValue = "value";

using V = TSessionValues;
using Member = std::variant<std::string V::*, bool V::*, int V::*, TBackupMode V::*, TDateTime V::*>;

// One value element of the file: its container (none: under the root), name,
// the record field it holds and whether a file without it is refused.
struct Field {
    const char* container;
    const char* name;
    Member member;
    bool required;
};

// In the order they are written.
const Field kFields[] = {
    {nullptr, "SessionName", &V::SessionName, true},
    {nullptr, "ArchiveName", &V::ArchiveName, true},
    {"GenericOptions", "SubFolders", &V::SubFolders, false},
    {"GenericOptions", "CloseKRV", &V::CloseKRV, false},
    {"GenericOptions", "RWDisk", &V::RWDisk, false},
    {"GenericOptions", "Device", &V::Device, false},
    {"GenericOptions", "DirHD", &V::DirHD, false},
    {"GenericOptions", "OverwriteHD", &V::OverwriteHD, false},
    {"GenericOptions", "Type", &V::Type, false},
    {"GenericOptions", "Creation", &V::Creation, true},
    {"GenericOptions", "LastSave", &V::LastSave, false},
    {"GenericOptions", "LastBackup", &V::LastBackup, false},
    {"MailOptions", "Active", &V::MailActive, false},
    {"MailOptions", "Address", &V::Address, false},
    {"MailOptions", "SMTP", &V::SMTP, false},
    {"MailOptions", "DoLogin", &V::DoLogin, false},
    {"MailOptions", "UserName", &V::UserName, false},
    {"MailOptions", "Password", &V::Password, false},
    {"MailOptions", "Log", &V::Log, false},
    {"Filters", "Active", &V::FiltersActive, false},
    {"Filters", "InclusionMask", &V::InclusionMask, false},
    {"Filters", "ExclusionMask", &V::ExclusionMask, false},
};

// The longest value the program can use, in characters. Every value is
// bounded where it is read: a session name of many kilobytes hangs or
// crashes the controls that show it (its report's file name is cut to fit),
// a file or host name is at most 255, a path the system's longest; a flag,
// number or date is short.
constexpr size_t kPathLimit = 32767;
size_t FieldLimit(const Field& f) {
    if (!std::holds_alternative<std::string V::*>(f.member)) return 64;
    return SessionValueLimit(f.name);
}

bool ContainerRequired(const char* container) {
    return std::string(container) != "Filters";
}

std::string ValueText(const V& values, const Member& member) {
    return std::visit(
        [&](auto m) -> std::string {
            const auto& field = values.*m;
            using T = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<T, std::string>) return field;
            else if constexpr (std::is_same_v<T, bool>) return SessionBoolToText(field);
            else if constexpr (std::is_same_v<T, int>) return IntToStr(field);
            else if constexpr (std::is_enum_v<T>) return IntToStr(static_cast<int>(field));
            else return SessionDateToText(field);
        },
        member);
}

bool ReadValue(V& values, const Member& member, const std::string& text) {
    return std::visit(
        [&](auto m) -> bool {
            auto& field = values.*m;
            using T = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<T, std::string>) {
                field = text;
                return true;
            } else if constexpr (std::is_same_v<T, bool>) {
                return SessionTextToBool(text, field);
            } else if constexpr (std::is_same_v<T, int>) {
                return SessionTextToInt(text, field);
            } else if constexpr (std::is_enum_v<T>) {
                int number = static_cast<int>(field);
                const bool ok = SessionTextToInt(text, number);
                field = static_cast<T>(number);
                return ok;
            } else {
                return SessionTextToDate(text, field);
            }
        },
        member);
}

// The named child element, appended when the document lacks it.
TXmlNode EnsureChild(TXmlNode parent, const char* name) {
    TXmlNode child = parent.Child(name);
    return child ? child : parent.AddElement(name);
}

// Writes every value into the tree under `root`, making what is missing; on
// an empty root this lays the whole file out in order.
void WriteValues(const V& values, TXmlNode root) {
    root.SetAttribute("ver", kVersion);
    for (const Field& f : kFields) {
        TXmlNode parent = f.container ? EnsureChild(root, f.container) : root;
        EnsureChild(parent, f.name).SetAttribute(kValue, ValueText(values, f.member));
    }
    TXmlNode dirs = EnsureChild(root, kDirsName);
    while (TXmlNode child = dirs.FirstChild()) child.Remove();
    for (int i = 0; i < values.SelectedFolders.Count(); ++i)
        dirs.AddElement("dir").SetAttribute(kValue, values.SelectedFolders[i]);
    for (int i = 0; i < values.UnselectedFolders.Count(); ++i)
        dirs.AddElement("dir_unsel").SetAttribute(kValue, values.UnselectedFolders[i]);
}

TDateTime SystemNow() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    double date = 0;
    ::SystemTimeToVariantTime(&st, &date);   // whole seconds, as the file keeps them
    return date;
}

} // namespace

std::function<TDateTime()> TSessionData::Clock = SystemNow;

size_t CharacterCount(const std::string& text, unsigned codePage) {
    if (text.empty()) return 0;
    const int units = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    // A character outside the basic plane takes two UTF-16 units.
    return static_cast<size_t>(std::count_if(wide.begin(), wide.end(), [](wchar_t c) { return c < 0xDC00 || c > 0xDFFF; }));
}

size_t SessionValueLimit(const std::string& name) {
    static const std::pair<const char*, size_t> named[] = {{"SessionName", 1024}, {"ArchiveName", kMaxArchiveNameLength}, {"SMTP", 255},
                                                           {"UserName", 255},    {"Password", 255},    {"Address", 1024}};
    for (const auto& [field, limit] : named)
        if (name == field) return limit;
    return kPathLimit;
}

std::string TooLongLine(const std::string& name, size_t length, size_t limit) {
    return KV_Field_TooLong + " " + name + " " + KV_Field_Holds + " " + std::to_string(length) + " " + KV_Field_Limit +
           " " + std::to_string(limit) + ".";
}

std::string TooLongProblem(const std::string& name, const std::string& text, size_t limit) {
    const size_t length = CharacterCount(text);
    return length > limit ? TooLongLine(name, length, limit) : std::string();
}

std::string SessionBoolToText(bool value) { return value ? "True" : "False"; }

std::string SessionDateToText(TDateTime value) {
    BstrHandle text;
    if (FAILED(::VarBstrFromDate(value, LOCALE_USER_DEFAULT, 0, text.put()))) return {};
    return BstrToAnsi(text.get());
}

bool SessionTextToBool(const std::string& text, bool& value) {
    BstrHandle s = AnsiToBstr(text);
    VARIANT_BOOL b = VARIANT_FALSE;
    if (FAILED(::VarBoolFromStr(s.get(), LOCALE_USER_DEFAULT, 0, &b))) return false;
    value = b != VARIANT_FALSE;
    return true;
}

bool SessionTextToInt(const std::string& text, int& value) {
    BstrHandle s = AnsiToBstr(text);
    LONG n = 0;
    if (FAILED(::VarI4FromStr(s.get(), LOCALE_USER_DEFAULT, 0, &n))) return false;
    value = static_cast<int>(n);
    return true;
}

bool SessionTextToDate(const std::string& text, TDateTime& value) {
    BstrHandle s = AnsiToBstr(text);
    DATE d = 0;
    if (FAILED(::VarDateFromStr(s.get(), LOCALE_USER_DEFAULT, 0, &d))) return false;
    value = d;
    return true;
}

void TSessionData::EnsureDocument() {
    if (document_) return;
    document_ = std::make_unique<TXmlDocument>();
    document_->Clear("ISO-8859-1");
}

void TSessionData::Reset(const std::string& unsavedName) {
    SessionName = unsavedName;
    ArchiveName.clear();
    InclusionMask.clear();
    ExclusionMask.clear();
    DirHD.clear();
    SelectedFolders.Clear();
    UnselectedFolders.Clear();
    FiltersActive = false;
    MailActive = false;
    DoLogin = false;
    SubFolders = false;
    RWDisk = true;
    Modified = false;
    CloseKRV = false;
    OverwriteHD = false;
    NeverSaved = true;
    Log = 1;
    Type = bmDisc;
    Device = -1;
    Creation = Clock();
    LastSave = 0;
    LastBackup = 0;
    RebuildNeeded = false;
    document_.reset();
    EnsureDocument();
    BuildXml();
}

void TSessionData::Clear() {
    document_.reset();
    SelectedFolders.Clear();
    UnselectedFolders.Clear();
}

void TSessionData::BuildXml() {
    EnsureDocument();
    WriteValues(*this, document_->CreateRoot(kRootName));
}

void TSessionData::UpdateXml() {
    EnsureDocument();
    TXmlNode root = document_->Root();
    if (!root) {
        BuildXml();
        return;
    }
    WriteValues(*this, root);
}

bool TSessionData::ParseXml() {
    if (!document_) return false;
    TXmlNode root = document_->Root();
    if (!root) return false;
    bool filtersMissing = false;
    UnreadableDates.clear();
    LoadProblem.clear();
    for (const Field& f : kFields) {
        TXmlNode parent = root;
        if (f.container) {
            parent = root.Child(f.container);
            if (!parent) {
                if (ContainerRequired(f.container)) return false;
                filtersMissing = true;
                continue;
            }
        }
        TXmlNode element = parent.Child(f.name);
        std::optional<std::string> text = element ? element.Attribute(kValue) : std::nullopt;
        if (!text) {
            if (f.required) return false;
            RebuildNeeded = true;
            continue;
        }
        LoadProblem = TooLongProblem(f.name, *text, FieldLimit(f));
        if (!LoadProblem.empty()) return false;
        if (ReadValue(*this, f.member, *text)) {
            // A type the program does not know would show one destination and run another.
            if (f.member == Member(&V::Type) && Type != bmDisc && Type != bmHardDisk) {
                LoadProblem = KV_Field_UnknownType + " Type \"" + *text + "\"";
                return false;
            }
            continue;
        }
        // A date only informs: one written under another date format must
        // not stop a backup.
        if (!std::holds_alternative<TDateTime V::*>(f.member)) return false;
        this->*std::get<TDateTime V::*>(f.member) = 0;
        UnreadableDates += (UnreadableDates.empty() ? "" : ", ") + std::string(f.name) + " \"" + *text + "\"";
    }
    if (filtersMissing) RebuildNeeded = true;

    TXmlNode dirs = root.Child(kDirsName);
    if (!dirs) return false;
    SelectedFolders.Clear();
    UnselectedFolders.Clear();
    for (TXmlNode e = dirs.FirstElement(); e; e = e.NextElement()) {
        const std::string name = e.Name();
        std::optional<std::string> path = e.Attribute(kValue);
        if (!path) continue;   // an entry without a path names no folder
        LoadProblem = TooLongProblem(name, *path, kPathLimit);
        if (!LoadProblem.empty()) return false;
        if (name == "dir") SelectedFolders.Add(*path);
        else if (name == "dir_unsel") UnselectedFolders.Add(*path);
    }
    return true;
}

bool TSessionData::LoadFromFile(const std::string& fileName) {
    // Checked in a scratch record first: a file that fails half way must not
    // leave the current session half overwritten.
    LoadProblem.clear();
    OpenError = 0;
    // A file that cannot be opened is said as such, with the system's reason:
    // held without sharing by another program, or not to be read by this
    // user, it is no broken session file.
    const std::string path = EntryPath(fileName);
    // Shared as the document's own read shares it.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (!FileHandle(CreateFileAny(path, GENERIC_READ, share, OPEN_EXISTING))) {
        OpenError = ::GetLastError();
        return false;
    }
    // Refused before the parser sees it: the parser takes many seconds over
    // a file of many megabytes, and no session needs that much.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesAny(path, data) &&
        (data.nFileSizeHigh != 0 || data.nFileSizeLow > kMaxSessionFileBytes)) {
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        LoadProblem = KV_Field_FileTooLarge + " " + std::to_string(size) + " " + KV_Field_BytesLimit + " " +
                      std::to_string(kMaxSessionFileBytes) + ".";
        return false;
    }
    TSessionData fresh;
    static_cast<TSessionValues&>(fresh) = *this;
    fresh.RebuildNeeded = false;   // describes the newly loaded document
    fresh.document_ = std::make_unique<TXmlDocument>();
    if (!fresh.document_->Load(path)) return false;
    if (!fresh.ParseXml()) {
        LoadProblem = fresh.LoadProblem;
        return false;
    }
    fresh.NeverSaved = false;
    static_cast<TSessionValues&>(*this) = std::move(static_cast<TSessionValues&>(fresh));
    document_ = std::move(fresh.document_);
    return true;
}

std::string TSessionData::LoadFailureLine(const std::string& fileName) const {
    if (OpenError == ERROR_FILE_NOT_FOUND || OpenError == ERROR_PATH_NOT_FOUND) return fileName + KV_SessionFileMissing;
    if (OpenError != 0) return fileName + KV_SessionFileCannotOpen + " " + SysErrorMessage(OpenError);
    return fileName + KrvSessionFileError + (LoadProblem.empty() ? "" : " " + LoadProblem);
}

std::string TSessionData::SaveProblem() const {
    for (const Field& f : kFields)
        if (std::string problem = TooLongProblem(f.name, ValueText(*this, f.member), FieldLimit(f)); !problem.empty())
            return problem;
    for (const auto& [name, list] : {std::pair{"dir", &SelectedFolders}, std::pair{"dir_unsel", &UnselectedFolders}})
        for (int i = 0; i < list->Count(); ++i)
            if (std::string problem = TooLongProblem(name, (*list)[i], kPathLimit); !problem.empty()) return problem;
    return {};
}

void TSessionData::SaveToFile(const std::string& fileName) {
    if (const std::string problem = SaveProblem(); !problem.empty()) throw Exception(KV_Session_NotSaved + " " + problem);
    const TDateTime previousSave = LastSave;
    LastSave = Clock();
    try {
        if (RebuildNeeded || !document_) {
            EnsureDocument();
            document_->Clear("ISO-8859-1");
            BuildXml();
        } else {
            UpdateXml();
        }
        document_->Save(fileName);
    } catch (...) {
        LastSave = previousSave;
        throw;
    }
    Modified = false;
}

bool UpdateLastBackupInFile(const TSessionData& session, const std::string& fileName, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    try {
        TXmlDocument doc;
        if (!doc.Load(fileName)) return fail(doc.ParseError());
        // Only a document that is recognisably a session gets written back:
        // anything else would be replaced by a stub.
        TXmlNode root = doc.Root();
        TXmlNode options = root ? root.Child("GenericOptions") : TXmlNode();
        if (!options) return fail("The file holds no session options");
        EnsureChild(options, "LastBackup").SetAttribute(kValue, SessionDateToText(session.LastBackup));
        doc.Save(fileName);
    } catch (const Exception& e) {
        return fail(e.Message());
    }
    return true;
}

} // namespace krv
