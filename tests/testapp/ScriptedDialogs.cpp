#include "ScriptedDialogs.h"

#include <algorithm>
#include <cstdlib>

#include "base/Format.h"
#include "base/Log.h"

namespace penwick::testapp {
namespace {
std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    for (size_t start = 0; start <= text.size() && !text.empty();) {
        size_t end = std::min(text.find(separator, start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}
} // namespace

std::unique_ptr<ScriptedDialogs> ScriptedDialogs::fromEnvironment()
{
    const char* script = std::getenv("PENWICK_TEST_DIALOGS");
    return script ? std::make_unique<ScriptedDialogs>(script) : nullptr;
}

ScriptedDialogs::ScriptedDialogs(const std::string& script)
{
    auto answers = split(script, ';');
    m_answers.assign(answers.begin(), answers.end());
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
    for (auto& path : split(answer.substr(6), '|')) {
        if (!path.empty())
            paths.push_back(std::move(path));
    }
    return paths;
}

} // namespace penwick::testapp
