#pragma once

#include <string>

#include "e2e/Child.h"

namespace penwick::e2e {

// A session bus of the test's own, for the life of the object; no address when it did not start.
struct PrivateBus {
    Child daemon { { "dbus-daemon", "--session", "--nofork", "--print-address={fd}" } };
    // The daemon prints its address once it listens.
    const std::string address = daemon.firstLine();
};

} // namespace penwick::e2e
