// A test binary that links the runner starts its apps on an X server of its own.
#include "e2e/AppRunner.h"
#include "e2e/XServer.h"
