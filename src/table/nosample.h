#pragma once

// The value of a reference sample that the operator has not entered. The table
// manager and the recorder each hold a copy of the two samples; a sample
// counts as set only when it is greater than this.
constexpr double NO_SAMPLE = -32768.0;

inline bool isSampleSet(double sample)
{
    return sample > NO_SAMPLE;
}
