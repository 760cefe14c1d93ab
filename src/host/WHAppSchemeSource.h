#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/BeneathResolver.h"
#include "platform/FileSchemeResponder.h"

namespace penwick {

// Finds the file behind an app origin URL, `app://<host>/<path>`: the file at <path> in the web
// content folder, for the app's own host only. The path is decoded; one with a ".." component, one
// naming a folder, and one whose file (through symbolic links) lies outside the folder name nothing.
// Query and fragment are not part of the path. Called on the work queue, several calls at once.
class WHAppSchemeSource final : public platform::FileSource {
public:
    static constexpr const char* kScheme = "app";

    // `host` is the app's id lower-cased; `contentFolder` the web content folder.
    WHAppSchemeSource(std::string host, std::string contentFolder);

    std::optional<platform::ServedFile> fileForURL(const std::string& url) const override;

    // "app://<host>": the origin of the app's pages served from here.
    std::string origin() const { return std::string(kScheme) + "://" + m_host; }
    // The rules the scheme answers by: only the app origin's own requests, and the headers that
    // isolate its pages (crossOriginIsolated, and with it SharedArrayBuffer).
    platform::SchemeRules rules() const;

    // The MIME type a server gives a file of this name: by its extension, application/octet-stream
    // for one nobody knows.
    static std::string contentType(std::string_view name);
    // The app origin's host for an application id: the id lower-cased.
    static std::string hostForApplicationId(std::string_view id);

private:
    std::string m_host;
    std::string m_contentFolder;
    // The content folder, opened once; what is served is opened beneath it.
    std::unique_ptr<BeneathResolver> m_folder;
};

} // namespace penwick
