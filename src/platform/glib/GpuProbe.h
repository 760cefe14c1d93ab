#pragma once

namespace penwick::platform {

// Whether the machine has a GPU to paint with: a render node, or the device of a driver that has
// none. Without one the engine would composite through the CPU's GL (llvmpipe).
[[nodiscard]] bool machineHasGpu();

} // namespace penwick::platform
