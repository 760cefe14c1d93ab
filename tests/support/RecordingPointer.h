#pragma once

#include <algorithm>
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
    enum class Kind { Local, Global, Activation };

    void hide() override { m_calls.push_back("hide"); }
    void show() override { m_calls.push_back("show"); }
    std::unique_ptr<platform::Registration> addLocalMovementMonitor(MovementHandler h) override { return add(Kind::Local, std::move(h)); }
    std::unique_ptr<platform::Registration> addGlobalMovementMonitor(MovementHandler h) override { return add(Kind::Global, std::move(h)); }
    std::unique_ptr<platform::Registration> observeDidBecomeActive(std::function<void()> h) override { return add(Kind::Activation, std::move(h)); }

    // Runs the handlers of that kind (a copy: a handler may drop registrations); answers how many ran.
    int emit(Kind kind)
    {
        std::vector<std::function<void()>> toRun;
        for (auto& [id, entry] : *m_handlers) {
            if (entry.kind == kind)
                toRun.push_back(entry.handler);
        }
        for (auto& h : toRun)
            h();
        return static_cast<int>(toRun.size());
    }
    int handlerCount(Kind kind) const
    {
        return static_cast<int>(std::count_if(m_handlers->begin(), m_handlers->end(), [kind](auto& e) { return e.second.kind == kind; }));
    }

    const std::vector<std::string>& calls() const { return m_calls; }

private:
    struct Entry {
        Kind kind;
        std::function<void()> handler;
    };
    std::unique_ptr<platform::Registration> add(Kind kind, std::function<void()> handler)
    {
        int id = m_nextId++;
        (*m_handlers)[id] = Entry { kind, std::move(handler) };
        return std::make_unique<ErasingRegistration<std::map<int, Entry>>>(m_handlers, id);
    }

    std::vector<std::string> m_calls;
    int m_nextId = 1;
    std::shared_ptr<std::map<int, Entry>> m_handlers = std::make_shared<std::map<int, Entry>>();
};

} // namespace penwick::test
