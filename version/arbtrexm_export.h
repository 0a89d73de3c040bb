// Symbol visibility of the export library (arbtrexm_legacyr).
#pragma once

#if defined(ARBTREXM_BUILDING)
#define ARBTREXM_API __attribute__((visibility("default")))
#else
#define ARBTREXM_API
#endif
