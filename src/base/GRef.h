#pragma once

#include <gio/gio.h>
#include <glib-object.h>
#include <utility>

#include "base/Result.h"

// RAII holders for GLib objects. GRef<T> holds a reference on a GObject (ref on copy, unref on
// destruction); adopt() takes over a transfer-full reference. GUnique<T> owns plain GLib
// allocations with a per-type deleter and is move-only.
namespace penwick {

template<typename T>
class GRef {
public:
    GRef() = default;
    GRef(std::nullptr_t) { }
    explicit GRef(T* ptr) : m_ptr(ptr) { if (m_ptr) g_object_ref(m_ptr); }
    GRef(const GRef& o) : GRef(o.m_ptr) { }
    GRef(GRef&& o) noexcept : m_ptr(std::exchange(o.m_ptr, nullptr)) { }
    ~GRef() { if (m_ptr) g_object_unref(m_ptr); }
    GRef& operator=(GRef o) noexcept { std::swap(m_ptr, o.m_ptr); return *this; }

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr; }

    template<typename U> friend GRef<U> adopt(U*);

private:
    T* m_ptr = nullptr;
};

template<typename T>
GRef<T> adopt(T* ptr)
{
    GRef<T> r;
    r.m_ptr = ptr;
    return r;
}

template<typename T> struct GDeleter;
template<> struct GDeleter<char> { void operator()(char* p) const { g_free(p); } };
template<> struct GDeleter<char*> { void operator()(char** p) const { g_strfreev(p); } };
template<> struct GDeleter<GError> { void operator()(GError* p) const { g_error_free(p); } };
template<> struct GDeleter<GKeyFile> { void operator()(GKeyFile* p) const { g_key_file_unref(p); } };
template<> struct GDeleter<GBytes> { void operator()(GBytes* p) const { g_bytes_unref(p); } };
template<> struct GDeleter<GVariant> { void operator()(GVariant* p) const { g_variant_unref(p); } };
template<> struct GDeleter<GMainContext> { void operator()(GMainContext* p) const { g_main_context_unref(p); } };
template<> struct GDeleter<GMainLoop> { void operator()(GMainLoop* p) const { g_main_loop_unref(p); } };
template<> struct GDeleter<GSource> { void operator()(GSource* p) const { g_source_unref(p); } };
template<> struct GDeleter<GThreadPool> { void operator()(GThreadPool* p) const { g_thread_pool_free(p, FALSE, TRUE); } };
template<> struct GDeleter<GList> { void operator()(GList* p) const { g_list_free(p); } };
template<> struct GDeleter<GUri> { void operator()(GUri* p) const { g_uri_unref(p); } };

template<typename T>
class GUnique {
public:
    GUnique() = default;
    explicit GUnique(T* ptr) : m_ptr(ptr) { }
    GUnique(const GUnique&) = delete;
    GUnique& operator=(const GUnique&) = delete;
    GUnique(GUnique&& o) noexcept : m_ptr(std::exchange(o.m_ptr, nullptr)) { }
    GUnique& operator=(GUnique&& o) noexcept { reset(std::exchange(o.m_ptr, nullptr)); return *this; }
    ~GUnique() { reset(); }

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr; }
    T* release() { return std::exchange(m_ptr, nullptr); }
    void reset(T* p = nullptr) { if (m_ptr) GDeleter<T>()(m_ptr); m_ptr = p; }
    // For GLib out-parameters: f(&err.outPtr()).
    T*& outPtr() { reset(); return m_ptr; }

private:
    T* m_ptr = nullptr;
};

// A GError becomes our error at the boundary.
inline Error toError(const GUnique<GError>& e)
{
    return e ? Error { e->code, e->message ? e->message : "" } : Error { 0, "unknown error" };
}

// A signal connection that disconnects when it dies (or when its instance has gone).
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id) : m_id(id)
    {
        g_set_weak_pointer(&m_instance, static_cast<GObject*>(instance));
    }
    SignalConnection(SignalConnection&& o) noexcept { *this = std::move(o); }
    SignalConnection& operator=(SignalConnection&& o) noexcept
    {
        disconnect();
        m_id = std::exchange(o.m_id, 0);
        g_set_weak_pointer(&m_instance, o.m_instance);
        g_clear_weak_pointer(&o.m_instance);
        return *this;
    }
    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    ~SignalConnection() { disconnect(); }

    bool connected() const { return m_instance && m_id; }

    void disconnect()
    {
        if (m_instance && m_id)
            g_signal_handler_disconnect(m_instance, m_id);
        m_id = 0;
        g_clear_weak_pointer(&m_instance);
    }

private:
    GObject* m_instance = nullptr;
    gulong m_id = 0;
};

} // namespace penwick
