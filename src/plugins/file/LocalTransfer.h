#pragma once

#include <functional>
#include <string>

#include "base/Value.h"
#include "bridge/WHPluginResult.h"
#include "plugins/file/LocalRoot.h"
#include "plugins/file/WHFileSystem.h"

namespace penwick {

// Copies or moves an item from one local root to another (or within one). Both items are found
// beneath their roots; the item itself is taken as it is (a link is copied or moved as a link),
// and a copied link that would lead out of the reachable roots from its new place is left out.
// Roots stay where they are; nothing is copied or moved into itself.
class LocalTransfer {
public:
    // The entry the page gets for the new item.
    using MakeEntry = std::function<ValueObject(const std::string& fullPath, EntryKind kind)>;

    // `directory` and `sourcePath` are local paths; `newName` may hold components.
    static WHPluginResult run(TransferMode mode, const LocalRoot& destination, const std::string& directory,
        const std::string& newName, const LocalRoot& source, const std::string& sourcePath, const MakeEntry& makeEntry);
    // False when the destination path lies below the source path, by their text.
    static bool canCopyMoveSrc(const std::string& source, const std::string& destination);
};

} // namespace penwick
