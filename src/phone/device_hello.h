// The hello frames live with the phone device, which speaks them on its active channel too.
#pragma once

#include "device/device_hello.h"
