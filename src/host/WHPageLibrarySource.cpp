#include "host/WHPageLibrarySource.h"

#include <vector>

#include "base/WHURL.h"
#include "host/WHAppSchemeSource.h"
#include "host/WHPageLibrary.h"

namespace penwick {

WHPageLibrarySource::WHPageLibrarySource(std::string base, const platform::FileSource& files)
    : m_base(std::move(base))
    , m_files(files)
{
}

namespace {
// The path after `base` with escapes decoded, runs of "/" and "." folded and ".." applied, as the
// file source would resolve it; none when it cannot be decoded.
std::optional<std::vector<std::string>> normalComponents(std::string_view path)
{
    auto decoded = WHURL::percentDecode(path.substr(0, path.find_first_of("?#")));
    if (!decoded)
        return std::nullopt;
    std::vector<std::string> components;
    std::string_view rest = *decoded;
    while (!rest.empty()) {
        auto slash = rest.find('/');
        std::string_view component = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
        } else if (!component.empty() && component != ".") {
            components.emplace_back(component);
        }
    }
    return components;
}
} // namespace

std::optional<platform::ServedFile> WHPageLibrarySource::fileForURL(const std::string& url) const
{
    if (url.compare(0, m_base.size(), m_base) != 0)
        return m_files.fileForURL(url);
    // The reserved folder is matched as the files would be found ("//_webhost", "%5fwebhost",
    // "_webhost%2f..."), so no spelling of it reaches what the app keeps under that name.
    auto components = normalComponents(std::string_view(url).substr(m_base.size()));
    if (!components)
        return std::nullopt;
    if (components->empty() || components->front() != WHPageLibrary::kFolder)
        return m_files.fileForURL(url);
    std::string name;
    for (size_t i = 1; i < components->size(); ++i)
        name += (i > 1 ? "/" : "") + (*components)[i];
    auto bytes = WHPageLibrary::file(name);
    if (!bytes)
        return std::nullopt;
    return platform::ServedFile { {}, WHAppSchemeSource::contentType(name), bytes };
}

} // namespace penwick
