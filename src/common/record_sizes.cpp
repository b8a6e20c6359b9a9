// The platform records the module hands to setupapi must have the 32-bit Windows layout
// the sizes in its calls were written for; a header that packs them differently would
// make the platform reject every call.
#include "common/platform.h"

#ifndef _WIN64
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
static_assert(sizeof(SP_DRVINFO_DATA_V2_A) == 796);
static_assert(sizeof(SP_DRVINFO_DETAIL_DATA_A) == 797);
#endif
