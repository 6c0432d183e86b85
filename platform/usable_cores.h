// How many threads the process can run at once.
#pragma once

#include <cstddef>

namespace platform {

// The cores this process may run on (its CPU affinity where the system tells it, else
// all of the machine's), at least 1.
size_t UsableCores();

}  // namespace platform
