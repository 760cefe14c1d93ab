#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Pointer.h"
#include "support/ErasingRegistration.h"

namespace penwick::test {

// A pointer that records hide and show requests ("hide", "show") and lets the test move the
// mouse and activate the application.
class RecordingPointer : public platform::Pointer {
public:
    void hide() override { m_calls.push_back("hide"); }
    void show() override { m_calls.push_back("show"); }
    std::unique_ptr<platform::Registration> addLocalMovementMonitor(MovementHandler h) override { return add(Kind::Local, std::move(h)); }
    std::unique_ptr<platform::Registration> addGlobalMovementMonitor(MovementHandler h) override { return add(Kind::Global, std::move(h)); }
    std::unique_ptr<platform::Registration> observeDidBecomeActive(std::function<void()> h) override { return add(Kind::Activation, std::move(h)); }

    enum class Kind { Local, Global, Activation };
    // Runs the handlers of that kind; answers how many ran.
    int emit(Kind kind);
    int handlerCount(Kind kind) const;

    const std::vector<std::string>& calls() const { return m_calls; }
    void clearCalls() { m_calls.clear(); }

private:
    std::unique_ptr<platform::Registration> add(Kind kind, std::function<void()> handler);
    struct Entry {
        Kind kind;
        std::function<void()> handler;
    };
    std::vector<std::string> m_calls;
    int m_nextId = 1;
    std::shared_ptr<std::map<int, Entry>> m_handlers = std::make_shared<std::map<int, Entry>>();
};

} // namespace penwick::test
