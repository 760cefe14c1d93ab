#include "support/RecordingPointer.h"

namespace penwick::test {

std::unique_ptr<platform::Registration> RecordingPointer::add(Kind kind, std::function<void()> handler)
{
    int id = m_nextId++;
    (*m_handlers)[id] = Entry { kind, std::move(handler) };
    return std::make_unique<ErasingRegistration<std::map<int, Entry>>>(m_handlers, id);
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
