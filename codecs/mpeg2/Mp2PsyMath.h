#pragma once
// The psychoacoustic model's decibel conversions, many at a time: powers of
// ten and logarithms by a polynomial instead of a library call per value.
// Within a few units in the last place of exp and log10; the vector and
// scalar forms give the same bits, so a result never depends on the processor.
namespace mp2 {

// out[i] = 10^(db[i] / 10); db within +-3000.
void PowOfDb(const double* db, double* out, int n);
// out[i] = 10 log10(max(power[i], 1e-20)); power finite.
void DbOfPower(const double* power, double* out, int n);

double PowOfDb(double db);
double DbOfPower(double power);

}  // namespace mp2
