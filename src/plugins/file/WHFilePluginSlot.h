#pragma once

#include <atomic>

namespace penwick {

class WHFile;

// Where the running file plugin is found by the whfile scheme's background work. The composition
// root makes one and provides it to the plugins; the plugin publishes itself once its registry is
// filled, so other threads never see one being filled. Safe from any thread.
class WHFilePluginSlot {
public:
    void publish(WHFile* plugin) { m_plugin.store(plugin, std::memory_order_release); }
    // The plugin that started last; null before any did.
    WHFile* plugin() const { return m_plugin.load(std::memory_order_acquire); }

private:
    std::atomic<WHFile*> m_plugin { nullptr };
};

} // namespace penwick
