#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace penwick::webext {

// The scripts the extension evaluates in page contexts (the *.js files beside this header), built
// into the extension so that it loads nothing at run time.
class InjectedScripts {
public:
    // Every script: its file name ("exec.js") and its text. Generated at build time.
    static const std::vector<std::pair<std::string_view, std::string_view>>& files();
    // The text of `name`, NUL-terminated, or "" when there is none.
    static std::string_view script(std::string_view name);
};

} // namespace penwick::webext
