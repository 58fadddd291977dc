#include "shell/item/ShownNameRules.h"
#include <windows.h>
#include <shlwapi.h>

namespace krv {

std::wstring TShownNameRules::ShownName(const std::wstring& realName, bool directory,
                                        const std::function<std::wstring()>& askShell) {
    // The extension as the shell finds it; a name that is all extension
    // (".profile") keeps it where others of its extension lose it.
    size_t dot = realName.size() - std::wcslen(::PathFindExtensionW(realName.c_str()));
    if (realName.empty() || dot == 0) return askShell();
    auto key = std::make_pair(realName.substr(dot), directory);
    auto known = rules_.find(key);
    if (known != rules_.end()) {
        switch (known->second) {
        case srKeep: return realName;
        case srCut: return realName.substr(0, dot);
        case srAsk: return askShell();
        }
    }
    std::wstring shown = askShell();
    TRule rule = shown == realName                                     ? srKeep
                 : dot < realName.size() && shown == realName.substr(0, dot) ? srCut
                                                                     : srAsk;
    rules_.emplace(std::move(key), rule);
    return shown;
}

} // namespace krv
