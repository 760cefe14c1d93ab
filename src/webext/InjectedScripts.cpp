#include "webext/InjectedScripts.h"

#include <algorithm>

namespace penwick::webext {

std::string_view InjectedScripts::script(std::string_view name)
{
    const auto& all = files();
    auto it = std::find_if(all.begin(), all.end(), [&](const auto& file) { return file.first == name; });
    return it == all.end() ? std::string_view("") : it->second;
}

} // namespace penwick::webext
