// The step-size and index-adjustment tables of the IMA ADPCM standard.
#ifndef WAV2IMA_ADPCM_TABLES_H
#define WAV2IMA_ADPCM_TABLES_H

#include <cstdint>

#include "adpcm/encoder.h"

// Step size for each step index 0..kStepIndexMax.
extern const std::int32_t kStepTable[kStepIndexMax + 1];

// Step index adjustment for each code magnitude 0..7.
extern const std::int32_t kIndexTable[8];

#endif  // WAV2IMA_ADPCM_TABLES_H
