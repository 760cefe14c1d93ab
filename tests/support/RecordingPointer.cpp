#include "support/RecordingPointer.h"

namespace penwick::test {
namespace {
template<typename Map>
class HandlerRegistration : public platform::Registration {
public:
    HandlerRegistration(std::weak_ptr<Map> handlers, int id) : m_handlers(std::move(handlers)), m_id(id) { }
    ~HandlerRegistration() override
    {
        if (auto handlers = m_handlers.lock())
            handlers->erase(m_id);
    }

private:
    std::weak_ptr<Map> m_handlers;
    int m_id;
};
} // namespace

std::unique_ptr<platform::Registration> RecordingPointer::add(Kind kind, std::function<void()> handler)
{
    int id = m_nextId++;
    (*m_handlers)[id] = Entry { kind, std::move(handler) };
    return std::make_unique<HandlerRegistration<std::map<int, Entry>>>(m_handlers, id);
}

std::unique_ptr<platform::Registration> RecordingPointer::addLocalMovementMonitor(MovementHandler handler)
{
    return add(Kind::Local, std::move(handler));
}

std::unique_ptr<platform::Registration> RecordingPointer::addGlobalMovementMonitor(MovementHandler handler)
{
    return add(Kind::Global, std::move(handler));
}

std::unique_ptr<platform::Registration> RecordingPointer::observeDidBecomeActive(std::function<void()> handler)
{
    return add(Kind::Activation, std::move(handler));
}

int RecordingPointer::emit(Kind kind)
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

int RecordingPointer::handlerCount(Kind kind) const
{
    int n = 0;
    for (auto& [id, entry] : *m_handlers)
        n += entry.kind == kind;
    return n;
}

} // namespace penwick::test
