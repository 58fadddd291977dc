// The shell item. Its class is completed by the shell-item module; the
// routines of this layer that handle items take them through the pointers
// declared here or through templates over the item type.
#pragma once
#include <vector>

namespace krv {

class TNamespace;
using TNamespaceArray = std::vector<TNamespace*>;

} // namespace krv
