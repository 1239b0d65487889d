// Tables of the correctly rounded exponential and logarithm (cr_exp_log.cpp).
#pragma once

#include <cstdint>

namespace qm::crm::detail {

// The logarithm reduces its argument to z in [asDouble(kLogOffset), 2 asDouble(kLogOffset)),
// cut into kLogTableSize pieces of equal width in the bits of z: piece i starts at the bits
// kLogOffset + (i << 45). invc is 1 / (the piece's centre) rounded to 9 significant bits (1
// for the piece around 1), so that products with 17- and 36-bit parts of z are exact;
// logcHi + logcLo is -log(invc) in double-double.
struct LogEntry {
    double invc, logcHi, logcLo;
};
constexpr int kLogTableBits = 7;
constexpr int kLogTableSize = 1 << kLogTableBits;
constexpr std::uint64_t kLogOffset = 0x3FE6900000000000u;
extern const LogEntry kLogTable[kLogTableSize];

// hi + lo = 2^(j / kExpTableSize) in double-double.
struct ExpEntry {
    double hi, lo;
};
constexpr int kExpTableBits = 7;
constexpr int kExpTableSize = 1 << kExpTableBits;
extern const ExpEntry kExpTable[kExpTableSize];

}  // namespace qm::crm::detail
