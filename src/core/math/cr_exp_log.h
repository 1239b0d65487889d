// Correctly rounded exponential, logarithms and power: each returns the double nearest the
// exact value (ties to even), so a result depends on mathematics alone, never on the processor
// or the C library that runs it. Renders, files and search scores that pass through these
// functions are the same bytes on every machine.
//
// Each first evaluates in double-double with a proven error bound and returns when every value
// within that bound rounds to the same double; otherwise (a few calls in ten thousand near 1 for
// log, far fewer elsewhere) an exact or 113-bit evaluation decides. Special values follow the C
// library's rules (log(0) = -inf, pow(x, 0) = 1, pow(-8, 1/3) = NaN, ...).
#pragma once

#include <cstdint>

namespace qm::crm {

double exp(double x);
double log(double x);
double log2(double x);
double log10(double x);
double pow(double x, double y);

// float(pow(x, y)), bit for bit, through a faster estimate in double where it rounds to an
// unambiguous float (the developments raise a float ratio to a float exponent per pixel).
float powFloat(double x, double y);

namespace detail {

// powFloat's estimate: for x positive and normal, y finite and a result within the normal
// floats, value is within marginUlps units in the last place of the correctly rounded
// pow(x, y). Returns false outside that domain.
bool powFloatEstimate(double x, double y, double& value, std::int64_t& marginUlps);

}  // namespace detail

}  // namespace qm::crm
