// Limits shared by the fuzz targets.
#pragma once

#include <cstddef>

/// Largest destination a fuzz target allocates; bigger announced sizes are skipped.
inline constexpr size_t kFuzzMaxOutput = size_t(1) << 22;
