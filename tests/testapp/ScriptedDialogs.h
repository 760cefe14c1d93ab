#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace penwick::testapp {

// Answers the page's questions from a script instead of asking anyone. The script comes from the
// environment variable PENWICK_TEST_DIALOGS: answers separated by ";", used in order:
//   "ok" / "cancel"       confirm, leave-page question or alert
//   "text:ANSWER"         prompt confirmed with ANSWER (may be empty)
//   "files:/a|/b"         open panel confirmed with these paths
// A missing answer counts as "cancel". Every question is logged as "dialog KIND: MESSAGE".
class ScriptedDialogs final : public platform::Dialogs {
public:
    static std::unique_ptr<ScriptedDialogs> fromEnvironment();
    explicit ScriptedDialogs(const std::string& script);

    void runAlert(const std::string& message) override;
    bool runConfirm(const std::string& message) override;
    std::optional<std::string> runPrompt(const std::string& message, const std::string& defaultText) override;
    std::optional<std::vector<std::string>> runOpenPanel(platform::AllowMultipleFiles multiple) override;

private:
    std::string nextAnswer();
    std::deque<std::string> m_answers;
};

} // namespace penwick::testapp
