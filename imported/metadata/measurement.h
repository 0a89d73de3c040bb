// The host's field enumerations.
#pragma once

namespace global {

/// Measurement level of a field; other values occur and mean "not recognised".
enum MeasurementLevel : int { NOMINAL = 0, ORDINAL = 1, CONTINUOUS = 2 };

/// Storage type of a field; other values occur.
enum StorageType : int { NUMERIC_STORAGE = 0, STRING_STORAGE = 1 };

}  // namespace global
