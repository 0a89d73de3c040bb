// Symbol visibility of the metadata library (arbtremd_legacyr).
#pragma once

#if defined(ARBTREMD_BUILDING)
#define ARBTREMD_API __attribute__((visibility("default")))
#else
#define ARBTREMD_API
#endif
