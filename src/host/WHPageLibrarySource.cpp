#include "host/WHPageLibrarySource.h"

#include "host/WHAppSchemeSource.h"
#include "host/WHPageLibrary.h"

namespace penwick {

WHPageLibrarySource::WHPageLibrarySource(std::string base, const platform::FileSource& files)
    : m_prefix(std::move(base) + std::string(WHPageLibrary::kFolder) + "/")
    , m_files(files)
{
}

std::optional<platform::ServedFile> WHPageLibrarySource::fileForURL(const std::string& url) const
{
    if (url.compare(0, m_prefix.size(), m_prefix) != 0)
        return m_files.fileForURL(url);
    std::string name = url.substr(m_prefix.size());
    name = name.substr(0, name.find_first_of("?#"));
    auto bytes = WHPageLibrary::file(name);
    if (!bytes)
        return std::nullopt;
    return platform::ServedFile { {}, WHAppSchemeSource::contentType(name), bytes };
}

} // namespace penwick
