#pragma once

#include <map>
#include <string>

#include "platform/PermissionRequest.h"

namespace penwick {

// Answers every permission the engine asks for on a page's behalf. The app's own content gets
// what apps need (clipboard, notifications, storage access, pointer lock); location and media
// capture only when config.xml's preferences grant them; other documents nothing. Every denial
// comes with the one log line that says why.
class WHPermissionPolicy {
public:
    static constexpr const char* kAllowGeolocationKey = "AllowGeolocation";
    static constexpr const char* kAllowMediaCaptureKey = "AllowMediaCapture";

    enum class Geolocation { Denied, Allowed };
    enum class MediaCapture { Denied, Allowed };

    // Evaluated in the app's own frames before their script: the engine answers
    // `Notification.requestPermission()` "denied" without a user gesture even where the permission
    // is granted; as the standard says, a permission already decided is answered as it stands.
    static constexpr const char* kNotificationPermissionScript = R"JS((function () {
  var N = window.Notification;
  if (typeof N !== 'function' || typeof N.requestPermission !== 'function') return;
  var ask = N.requestPermission;
  Object.defineProperty(N, 'requestPermission', { writable: true, configurable: true, value: function requestPermission(callback) {
    var decided = N.permission;
    if (decided === 'default') return ask.apply(this, arguments);
    if (typeof callback === 'function') queueMicrotask(function () { callback(decided); });
    return Promise.resolve(decided);
  } });
})();)JS";

    WHPermissionPolicy(Geolocation geolocation, MediaCapture mediaCapture);
    // From config.xml's preferences.
    static WHPermissionPolicy fromSettings(const std::map<std::string, std::string>& settings);

    struct Decision {
        platform::PermissionAnswer answer;
        // Why it was denied; empty for a grant.
        std::string logLine;
    };
    Decision decide(const platform::PermissionRequest& request) const;

private:
    Geolocation m_geolocation;
    MediaCapture m_mediaCapture;
};

} // namespace penwick
