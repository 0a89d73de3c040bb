// Export macro of the predictor-importance library.
#pragma once

#if defined(ARBTREPI_BUILDING)
#define ARBTREPI_API __attribute__((visibility("default")))
#else
#define ARBTREPI_API
#endif
