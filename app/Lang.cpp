#include "app/Lang.h"
#include "app/LangXml.h"
#include "framework/Handle.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include <algorithm>
#include <vector>

namespace krv {

TLang::TLang() { Init(); }

TLang::~TLang() { Clear(); }

void TLang::Init() {
    Clear();
    doc_ = std::make_unique<LangXmlDocument>();
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
    const LangXmlNode root = doc_->Root();
    const LangXmlNode lang = root ? root.Child("Lang") : LangXmlNode();
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
    const LangXmlNode root = doc_->Root();
    if (!root) return defaultText;
    const LangXmlNode constants = root.Child("Constant");
    if (!constants) return defaultText;
    const LangXmlNode entry = constants.Child(key);
    if (!entry) return defaultText;
    return entry.Attribute("value").value_or(defaultText);
}

int TLang::DefaultGeometry(const std::string& formName, const std::string& controlName, const std::string& key) const {
    if (defaultsFile_.empty()) return -1;
    const std::string section = formName + "=" + controlName;
    return static_cast<int>(::GetPrivateProfileIntA(section.c_str(), key.c_str(), -1, defaultsFile_.c_str()));
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
