#pragma once

#include <cstddef>
#include <string>

#include "plugins/file/WHFileSystem.h"

namespace penwick {

// A folder's answer written straight as compact JSON text, with no value tree in between: the
// parts all items share (file system, folder's full path and URL) are made once. In the lean form
// (see EntriesForm) an item whose nativeURL is `base` + its name carries the name alone.
class EntryListing {
public:
    EntryListing(EntriesForm form, const std::string& fileSystem, std::string folderFullPath, std::string base, std::size_t count);
    // False when the lean form's shared parts are not UTF-8 text; the caller then lists as objects.
    bool sharedPartsAreText() const { return m_sharedPartsAreText; }

    // One item: `name` as it lies in the folder, `nativeURL` already transformed. False, and
    // nothing written, when a part is not UTF-8 text.
    [[nodiscard]] bool add(const std::string& name, EntryKind kind, const std::string& nativeURL);
    std::string finish() &&;

private:
    EntriesForm m_form;
    std::string m_folder, m_base, m_json, m_quotedFileSystem, m_scratch;
    std::size_t m_written = 0;
    bool m_sharedPartsAreText = true;
};

} // namespace penwick
