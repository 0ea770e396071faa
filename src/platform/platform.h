// The platform seam: every operating-system service the library uses.
// Only src/platform includes system headers; the core includes this.
#pragma once

#include "platform/file.h"
#include "platform/net.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/ui.h"
