#include "app/Lang.h"
#include "framework/XmlDoc.h"
#include "framework/Controls.h"
#include "framework/Handle.h"
#include "framework/IniFiles.h"
#include "framework/Menus.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace krv {

TLang::TLang() { Init(); }

TLang::~TLang() { Clear(); }

void TLang::Init() {
    Clear();
    doc_ = std::make_unique<TXmlDocument>();
    doc_->Clear("ISO-8859-1");
    name_.clear();
}

void TLang::Clear() {
    doc_.reset();
    defaultsFile_.clear();
}

bool TLang::LoadFromFile(const std::string& fileName) {
    if (fileName.empty() || !FileExists(fileName)) {
        Init();
        return fileName.empty();
    }
    Init();
    if (!doc_->Load(fileName)) {
        Init();
        return false;
    }
    const TXmlNode root = doc_->Root();
    const TXmlNode lang = root ? root.Child("Lang") : TXmlNode();
    if (!lang) {
        // Not a language file: keep none of it, or its texts would still
        // translate while the caller reports that English is in use.
        Init();
        return false;
    }
    defaultsFile_ = ExtractFilePath(fileName) + "def.dat";
    name_ = lang.Attribute("value").value_or("");
    return true;
}

std::string TLang::GetConstant(const std::string& key, const std::string& defaultText) const {
    if (!doc_) return defaultText;
    const TXmlNode root = doc_->Root();
    if (!root) return defaultText;
    const TXmlNode constants = root.Child("Constant");
    if (!constants) return defaultText;
    const TXmlNode entry = constants.Child(key);
    if (!entry) return defaultText;
    return entry.Attribute("value").value_or(defaultText);
}

int TLang::DefaultGeometry(const std::string& formName, const std::string& controlName, const std::string& key) const {
    if (defaultsFile_.empty()) return -1;
    return TIniFile(defaultsFile_).ReadInteger(formName + "=" + controlName, key, -1);
}

namespace {

// A geometry offset of the language file; not a number stops the window's
// translation, as any conversion error would.
int OffsetValue(const std::string& text, const std::string& control, const std::string& key) {
    const std::string t = Trim(text);
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || *end != 0)
        throw Exception("'" + text + "' is not a valid integer value (" + control + ", " + key + ")");
    return static_cast<int>(v);
}

// Every control entry against every item of one level, then each item's
// sub-items the same way, down the whole menu tree.
void ApplyToMenuLevel(const TXmlNode& window, TMenuItem& parent) {
    for (int i = 0; i < parent.Count(); ++i) {
        TMenuItem* item = parent.Items(i);
        for (TXmlNode entry = window.Child("Control"); entry; entry = entry.NextElement()) {
            const auto name = entry.Attribute("name");
            if (!name || !SameText(*name, item->Name())) continue;
            if (const auto caption = entry.Attribute("caption")) item->SetCaption(*caption);
            if (const auto hint = entry.Attribute("hint")) item->Hint = *hint;
        }
        ApplyToMenuLevel(window, *item);
    }
}

} // namespace

TXmlNode TLang::WindowElement(const TComponent& form) const {
    const TXmlNode root = doc_ ? doc_->Root() : TXmlNode();
    return root ? root.Child(form.Name()) : TXmlNode();
}

bool TLang::ApplyToMenu(TComponent& form, TMainMenu& menu) {
    const TXmlNode window = WindowElement(form);
    if (!window) return false;
    ApplyToMenuLevel(window, menu.Items());
    return true;
}

bool TLang::ApplyToForm(TComponent& form) {
    const TXmlNode window = WindowElement(form);
    if (!window) return false;
    for (TXmlNode entry = window.Child("Control"); entry; entry = entry.NextElement()) {
        const auto name = entry.Attribute("name");
        if (!name) continue;
        // Menu items and other components that are not controls are skipped.
        auto* control = dynamic_cast<TControl*>(form.FindComponent(*name));
        if (!control) continue;
        static const char* const keys[] = {"top", "left", "width", "height"};
        for (const char* key : keys) {
            const auto offset = entry.Attribute(key);
            if (!offset) continue;
            const int base = DefaultGeometry(form.Name(), control->Name(), key);
            if (base == -1) continue;
            const int value = base + OffsetValue(*offset, *name, key);
            switch (key[0]) {
            case 't': control->SetTop(value); break;
            case 'l': control->SetLeft(value); break;
            case 'w': control->SetWidth(value); break;
            default: control->SetHeight(value); break;
            }
        }
        if (const auto caption = entry.Attribute("caption")) control->SetCaption(*caption);
        if (const auto hint = entry.Attribute("hint")) control->Hint = *hint;
    }
    return true;
}

void ListLanguageFiles(const std::string& langDir, TStringList& names, TStringList& paths) {
    const std::string dir = IncludeTrailingBackslash(langDir);
    std::vector<std::string> files;
    WIN32_FIND_DATAA data;
    FindHandle find(::FindFirstFileA((dir + "*.lang").c_str(), &data));
    if (find) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(data.cFileName);
        } while (::FindNextFileA(find.get(), &data));
    }
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    TLang probe;
    for (const auto& f : files) {
        if (!probe.LoadFromFile(dir + f)) continue;
        names.Add(probe.GetName());
        paths.Add(dir + f);
    }
}

} // namespace krv
