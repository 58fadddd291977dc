// How a folder shows its items' names. The shell decides per item whether to
// cut a name's extension, and asking it reads several settings each time;
// the answer depends only on the extension and on whether the item is a
// directory. The first item of each extension and kind is asked, the answer
// checked against its real name, and later items of the same extension and
// kind take the same cut without asking.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace krv {

class TShownNameRules {
public:
    // The shown name of an item whose name in the folder's file system is
    // realName; askShell gives the shell's own shown name when the rule is
    // not known yet, or cannot be known.
    std::wstring ShownName(const std::wstring& realName, bool directory,
                           const std::function<std::wstring()>& askShell);
private:
    enum TRule : uint8_t {
        srKeep,   // the real name as it is
        srCut,    // the real name without its extension
        srAsk,    // the shell gave another name: ask for every item
    };
    std::map<std::pair<std::wstring, bool>, TRule> rules_;
};

} // namespace krv
