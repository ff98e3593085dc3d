// The per-level maps of the shadow and highlight settings, from which the tone filter builds its
// tables (ToneFilter::buildTables, in ToneTables.cpp, adds the auto-colour curves and the levels
// curves for auto exposure, clips and gamma).
#pragma once

#include <cstdint>

namespace quarvel {

// Level i (0..255) through the shadow settings as stored: screened (more the lower the
// contrast), lifted by `level` percent, mixed in by `amount` percent.
int32_t shadowTableLevel(int32_t i, int32_t contrast, int32_t level, int32_t amount);
// Level v (0..255) through the highlight settings: the same with multiply, toward darker.
int32_t highlightTableLevel(int32_t v, int32_t contrast, int32_t level, int32_t amount);

} // namespace quarvel
