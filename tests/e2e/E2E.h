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

using penwick::e2e::AppRunner;
using penwick::e2e::Child;
using penwick::e2e::BusService;
using penwick::e2e::LoopbackServer;
using penwick::e2e::OwnDisplay;
using penwick::e2e::PrivateBus;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

// Waits until every message is logged as an exact line (AppRunner::hasLogLine); a failure names the
// missing ones and shows the app's output.
inline testing::AssertionResult logged(AppRunner& app, const Lines& messages, std::chrono::milliseconds timeout = 30s)
{
    Lines missing;
    (void)AppRunner::waitUntil([&] {
        missing.clear();
        std::copy_if(messages.begin(), messages.end(), std::back_inserter(missing), [&](const auto& m) { return !app.hasLogLine(m); });
        return missing.empty();
    }, timeout);
    if (missing.empty())
        return testing::AssertionSuccess();
    testing::AssertionResult failure = testing::AssertionFailure() << "not logged:";
    for (const auto& message : missing)
        failure << "\n  " << message;
    return failure << "\n" << app.output();
}

// Texts and how many lines of the app's output should contain each.
using Counts = std::vector<std::pair<std::string, int>>;

// Waits until each text is in exactly its count of lines; a failure names the miscounted ones and
// shows the output.
inline testing::AssertionResult counted(const AppRunner& app, const Counts& counts, std::chrono::milliseconds timeout = 30s)
{
    Counts wrong;
    (void)AppRunner::waitUntil([&] {
        wrong.clear();
        for (const auto& [text, count] : counts)
            if (const int have = app.countLines(text); have != count)
                wrong.emplace_back(text, have);
        return wrong.empty();
    }, timeout);
    if (wrong.empty())
        return testing::AssertionSuccess();
    testing::AssertionResult failure = testing::AssertionFailure() << "miscounted:";
    for (const auto& [text, have] : wrong)
        failure << "\n  " << have << " lines with " << text;
    return failure << "\n" << app.output();
}

// Waits until a line of the app's output contains `text`; a failure shows the output.
inline testing::AssertionResult lineAppears(AppRunner& app, const std::string& text, std::chrono::milliseconds timeout = 30s)
{
    if (app.waitForLine(text, timeout))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no line with \"" << text << "\" in:\n" << app.output();
}
