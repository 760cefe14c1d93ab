#pragma once

// What every end-to-end test uses: the app runner, the test framework and the usual library.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "e2e/AppRunner.h"
#include "e2e/Harness.h"

using namespace penwick::e2e;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

// Waits until `amiss` finds nothing wrong in the app's output; a failure lists what it found last
// under `what` and shows the output.
inline testing::AssertionResult settles(const AppRunner& app, const char* what, const std::function<Lines()>& amiss,
    std::chrono::milliseconds timeout)
{
    Lines last;
    if (AppRunner::waitUntil([&] { return (last = amiss()).empty(); }, timeout))
        return testing::AssertionSuccess();
    testing::AssertionResult failure = testing::AssertionFailure() << what;
    for (const auto& line : last)
        failure << "\n  " << line;
    failure << "\n" << app.output();
    // Where the app and its web processes wait, should one of them hang.
    std::string pids = std::to_string(app.pid());
    for (pid_t web : app.webProcesses())
        pids += "," + std::to_string(web);
    return failure << "\n" << AppRunner::capture("ps -o pid,stat,wchan:32,comm -p " + pids);
}

// Waits until every message is logged as an exact line (AppRunner::hasLogLine).
inline testing::AssertionResult logged(const AppRunner& app, const Lines& messages, std::chrono::milliseconds timeout = 30s)
{
    return settles(app, "not logged:", [&] {
        Lines missing;
        std::copy_if(messages.begin(), messages.end(), std::back_inserter(missing), [&](const auto& m) { return !app.hasLogLine(m); });
        return missing;
    }, timeout);
}

// Texts and how many lines of the app's output should contain each.
using Counts = std::vector<std::pair<std::string, int>>;

// Waits until each text is in exactly its count of lines.
inline testing::AssertionResult counted(const AppRunner& app, const Counts& counts, std::chrono::milliseconds timeout = 30s)
{
    return settles(app, "miscounted:", [&] {
        Lines wrong;
        for (const auto& [text, count] : counts)
            if (const int have = app.countLines(text); have != count)
                wrong.push_back(std::to_string(have) + " lines with " + text);
        return wrong;
    }, timeout);
}

// Does `act` again until a line with `text` comes within `pause` of it: input that a window may not
// take yet.
inline testing::AssertionResult retried(const AppRunner& app, const std::function<void()>& act, const std::string& text,
    std::chrono::milliseconds timeout, std::chrono::milliseconds pause = 2s)
{
    return settles(app, "no line with:", [&] {
        act();
        return AppRunner::waitUntil([&] { return app.countLines(text) > 0; }, pause) ? Lines {} : Lines { text };
    }, timeout);
}

// Waits until a line of the app's output contains `text`; a failure shows the output.
inline testing::AssertionResult lineAppears(const AppRunner& app, const std::string& text, std::chrono::milliseconds timeout = 30s)
{
    return retried(app, [] { }, text, timeout, 0ms);
}
