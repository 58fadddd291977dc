// A language file: the language's display name, message texts by key, and
// the translation of a window (captions, hints, and position or size offsets
// against the base geometry in "def.dat" beside the language files). With no
// file loaded every lookup gives the built-in English and nothing changes.
#pragma once
#include "framework/Classes.h"
#include <memory>
#include <string>

namespace krv {

class TMainMenu;
class TStringList;
class TXmlNode;

class TLang {
public:
    TLang();
    ~TLang();
    TLang(const TLang&) = delete;
    TLang& operator=(const TLang&) = delete;

    // A new empty document; Name empty.
    void Init();
    // Drops the document and the base geometry.
    void Clear();
    // "" loads the built-in English (true). False for a missing or unreadable
    // file or one without a Lang element; lookups then give their defaults.
    bool LoadFromFile(const std::string& fileName);

    const std::string& GetName() const { return name_; }
    std::string GetConstant(const std::string& key, const std::string& defaultText) const;

    // Translates the controls a window owns, matched by component name.
    // False when the file has no element for the window.
    bool ApplyToForm(TComponent& form);
    // Translates a main menu's item captions at every depth (the caller
    // rebuilds the menu bar).
    bool ApplyToMenu(TComponent& form, TMainMenu& menu);

    // Base value of a geometry key ("top", "left", "width", "height") of a
    // window's control from "def.dat"; -1 when absent.
    int DefaultGeometry(const std::string& formName, const std::string& controlName, const std::string& key) const;
    const std::string& DefaultsFile() const { return defaultsFile_; }

private:
    TXmlNode WindowElement(const TComponent& form) const;
    std::unique_ptr<class TXmlDocument> doc_;
    std::string name_;
    std::string defaultsFile_;   // empty: no Defaults
};

// The language files of a folder that load, in file-name order: their
// display names and full paths, in parallel.
void ListLanguageFiles(const std::string& langDir, TStringList& names, TStringList& paths);

} // namespace krv
