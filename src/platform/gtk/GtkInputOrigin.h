#pragma once

#include <optional>
#include <string>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "platform/Dialogs.h"

namespace penwick::platform {

// Where the user's input to a web view's document went. A frame of another site that has had some
// may navigate the main frame; a file chooser needs the user's input, so the latest input's
// document is the one asking, and a chooser of another site's frame must not pass for the app's.
class GtkInputOrigin {
public:
    GtkInputOrigin() = default;
    GtkInputOrigin(const GtkInputOrigin&) = delete;
    GtkInputOrigin& operator=(const GtkInputOrigin&) = delete;

    // GTK hands the view a press, key or touch before any frame has it: the app's, unless a frame
    // says otherwise.
    void connect(WebKitWebView* view);
    // A new main-frame document: no frame of it has had input yet.
    void documentChanged()
    {
        m_otherSiteHadInput = false;
        m_latestOtherSite.reset();
    }
    // Takes the web process's word that a frame of another site has the input; false for another message.
    bool heard(WebKitUserMessage* message);

    bool otherSiteHadInput() const { return m_otherSiteHadInput; }
    DialogAsker latestAsker() const
    {
        return m_latestOtherSite ? DialogAsker { DialogAsker::Kind::OtherSite, *m_latestOtherSite } : DialogAsker {};
    }

private:
    bool m_otherSiteHadInput = false;
    std::optional<std::string> m_latestOtherSite;
    SignalConnection m_input[3];
};

} // namespace penwick::platform
