#pragma once
// Memory this process has committed for itself, for tests that bound it.
#include <cstddef>

// Private bytes: PrivateUsage where the system reports it, else the commit
// charge, which is what Wine fills in (it leaves PrivateUsage at 0).
size_t PrivateBytes();
