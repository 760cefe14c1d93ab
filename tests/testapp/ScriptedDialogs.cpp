#include "ScriptedDialogs.h"

#include <cstdlib>

#include "base/Format.h"
#include "base/Log.h"

namespace penwick::testapp {

std::unique_ptr<ScriptedDialogs> ScriptedDialogs::fromEnvironment()
{
    const char* script = std::getenv("PENWICK_TEST_DIALOGS");
    return script ? std::make_unique<ScriptedDialogs>(script) : nullptr;
}

ScriptedDialogs::ScriptedDialogs(const std::string& script)
{
    size_t start = 0;
    while (start <= script.size() && !script.empty()) {
        size_t end = script.find(';', start);
        if (end == std::string::npos)
            end = script.size();
        m_answers.push_back(script.substr(start, end - start));
        start = end + 1;
    }
}

std::string ScriptedDialogs::nextAnswer()
{
    if (m_answers.empty())
        return "cancel";
    std::string answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void ScriptedDialogs::runAlert(const std::string& message)
{
    log::message(format("dialog alert: %@", message));
    (void)nextAnswer();
}

bool ScriptedDialogs::runConfirm(const std::string& message)
{
    log::message(format("dialog confirm: %@", message));
    return nextAnswer() == "ok";
}

std::optional<std::string> ScriptedDialogs::runPrompt(const std::string& message, const std::string& defaultText)
{
    log::message(format("dialog prompt: %@ [%@]", message, defaultText));
    std::string answer = nextAnswer();
    if (answer.rfind("text:", 0) == 0)
        return answer.substr(5);
    return std::nullopt;
}

std::optional<std::vector<std::string>> ScriptedDialogs::runOpenPanel(platform::AllowMultipleFiles multiple)
{
    log::message(format("dialog open: multiple %@", multiple == platform::AllowMultipleFiles::Yes ? "yes" : "no"));
    std::string answer = nextAnswer();
    if (answer.rfind("files:", 0) != 0)
        return std::nullopt;
    std::vector<std::string> paths;
    std::string list = answer.substr(6);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find('|', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            paths.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return paths;
}

} // namespace penwick::testapp
