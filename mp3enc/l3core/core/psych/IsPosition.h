#pragma once
// The intensity position of one band and the factor that scales the merged
// spectrum there, from the band energies of left and right and twice the mid
// energy. Rate class 0 (MPEG-1) codes the angle of the level ratio in twelfths
// of pi; the lower rates code the level ratio in quarter-bit steps
// (intensity_scale 0), the quieter channel attenuated.

struct IsPosition {
    int position;
    float factor;
};

IsPosition IntensityPosition(int rateClass, float left, float right, float twiceMid);
// The factor of a band whose right spectrum is dropped rather than merged:
// the left lines alone then carry both levels.
float UnmergedFactor(int rateClass, float left, float right);
