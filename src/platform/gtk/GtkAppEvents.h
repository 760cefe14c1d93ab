#pragma once

#include <functional>
#include <map>
#include <memory>

#include <gtk/gtk.h>

#include "platform/Registration.h"

namespace penwick::platform {

// What the application as a whole goes through, seen from GDK's event stream: activation (one of
// its windows has the focus) and pointer movement over its windows. Process-wide; main thread.
class GtkAppEvents {
public:
    static GtkAppEvents& shared();

    using Handler = std::function<void()>;
    [[nodiscard]] std::unique_ptr<Registration> onDidBecomeActive(Handler handler) { return add(Kind::BecomeActive, std::move(handler)); }
    [[nodiscard]] std::unique_ptr<Registration> onDidResignActive(Handler handler) { return add(Kind::ResignActive, std::move(handler)); }
    // Movement with no button or with only the first (left) button held.
    [[nodiscard]] std::unique_ptr<Registration> onPointerMoved(Handler handler) { return add(Kind::PointerMoved, std::move(handler)); }

private:
    enum class Kind { BecomeActive, ResignActive, PointerMoved };
    struct Entry {
        Kind kind;
        Handler handler;
    };
    using Handlers = std::map<int, Entry>;

    GtkAppEvents();
    std::unique_ptr<Registration> add(Kind kind, Handler handler);
    void emit(Kind kind);
    static void handleEvent(GdkEvent* event, gpointer self);
    void checkActivation();

    bool m_active = false;
    unsigned m_checkSource = 0;
    int m_nextId = 1;
    std::shared_ptr<Handlers> m_handlers = std::make_shared<Handlers>();
};

} // namespace penwick::platform
