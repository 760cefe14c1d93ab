#pragma once
#include "channel/Frame.h"
