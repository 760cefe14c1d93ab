#include "platform/gtk/GtkStorageFeatures.h"

#include <string_view>

#include "base/Log.h"

namespace penwick::platform {

void GtkStorageFeatures::enable(WebKitWebView* view)
{
    static constexpr std::string_view kFeatures[] = { "StorageAPI", "StorageAPIEstimate", "FileSystem", "FileSystemWritableStream", "AccessHandle" };
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    WebKitFeatureList* features = webkit_settings_get_all_features();
    for (std::string_view wanted : kFeatures) {
        bool found = false;
        for (gsize i = 0; i < webkit_feature_list_get_length(features) && !found; ++i) {
            WebKitFeature* feature = webkit_feature_list_get(features, i);
            if (wanted == webkit_feature_get_identifier(feature)) {
                webkit_settings_set_feature_enabled(settings, feature, TRUE);
                found = true;
            }
        }
        if (!found)
            log::warning("this web engine has no " + std::string(wanted) + " feature: pages go without it");
    }
    webkit_feature_list_unref(features);
}

} // namespace penwick::platform
