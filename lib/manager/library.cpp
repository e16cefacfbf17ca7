// libtelhid.so is assembled from the component archives (taken whole); the
// linker version script telhid.map decides what it exports. This unit only
// pins the exported declarations to the definitions' types at build time.
#include "manager/telhid.h"

static_assert(sizeof(hid_event_cb) == sizeof(void*), "callback is a plain function pointer");
