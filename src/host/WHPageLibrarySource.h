#pragma once

#include <string>

#include "platform/FileSchemeResponder.h"

namespace penwick {

// A scheme's files with the page library at the reserved path: `<base>_webhost/<file>` answers the
// library's file (or nothing, whatever the other source holds there), every other URL goes to
// `files`. Query and fragment are not part of the name; the path is matched decoded and folded.
class WHPageLibrarySource final : public platform::FileSource {
public:
    // `base` ends with "/" ("whfile://localhost/"); `files` outlives this.
    WHPageLibrarySource(std::string base, const platform::FileSource& files);

    std::optional<platform::ServedFile> fileForURL(const std::string& url) const override;

private:
    std::string m_base;
    const platform::FileSource& m_files;
};

} // namespace penwick
