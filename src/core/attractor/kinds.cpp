#include "core/attractor/kinds.h"

namespace qm {

namespace {

// Parameter ranges; entries refer to these by address and read them in their own type.
constexpr char kDegreeMin = 2, kDegreeMax = 24;
constexpr double kMinus3 = -3, kMinus2 = -2, kMinus1 = -1, kZero = 0, kHalf = 0.5, kOne = 1,
                 kTwo = 2, kThree = 3, kTen = 10, kTwenty = 20;

}  // namespace

Icon::Icon() {
    setKind(AttractorKind::Icon);
    params_.addParam("Degree", ParamType::Int8, &degree, &kDegreeMin, &kDegreeMax, true);
    params_.addParam("Alpha", ParamType::Double, &alpha, &kMinus3, &kThree, true);
    params_.addParam("Beta", ParamType::Double, &beta, &kMinus3, &kThree, true);
    params_.addParam("Lambda", ParamType::Double, &lambda, &kMinus3, &kThree, true);
    params_.addParam("Gamma", ParamType::Double, &gamma, &kMinus3, &kThree, true);
    params_.addParam("Omega", ParamType::Double, &omega, &kMinus3, &kThree, true);
}

void Icon::restart() {
    currentPoint_ = {0.01, 0.003, 0};
    Attractor::restart();
}

Lorenz_2L::Lorenz_2L() {
    setKind(AttractorKind::Lorenz);
    params_.addParam("A", ParamType::Double, &A, &kZero, &kTwenty, true);
    params_.addParam("B", ParamType::Double, &B, &kZero, &kTwenty, true);
    params_.addParam("C", ParamType::Double, &C, &kZero, &kTwenty, true);
    params_.addParam("dT", ParamType::Double, &dT, &kZero, &kHalf, true);
}

void Lorenz_2L::restart() {
    currentPoint_ = {1, 1, 1};
    a_ = A * dT;
    b_ = B * dT;
    c_ = C * dT;
    Attractor::restart();
}

Lorenz_84::Lorenz_84() {
    setKind(AttractorKind::Lorenz84);
    params_.addParam("A", ParamType::Double, &A, &kZero, &kTen, true);
    params_.addParam("B", ParamType::Double, &B, &kZero, &kTen, true);
    params_.addParam("F", ParamType::Double, &F, &kZero, &kTen, true);
    params_.addParam("G", ParamType::Double, &G, &kZero, &kTen, true);
    params_.addParam("dT", ParamType::Double, &dT, &kZero, &kHalf, true);
}

void Lorenz_84::restart() {
    currentPoint_ = {0.1, 0.1, 0.1};
    Attractor::restart();
}

Pickover::Pickover() {
    setKind(AttractorKind::Pickover);
    params_.addParam("A", ParamType::Double, &A, &kMinus3, &kThree, true);
    params_.addParam("B", ParamType::Double, &B, &kZero, &kThree, true);
    params_.addParam("C", ParamType::Double, &C, &kMinus3, &kThree, true);
    params_.addParam("D", ParamType::Double, &D, &kZero, &kThree, true);
}

void Pickover::restart() {
    currentPoint_ = {0, 0, 0};
    Attractor::restart();
}

Unravel::Unravel() {
    setKind(AttractorKind::Unravel);
    params_.addParam("A", ParamType::Double, &A, &kMinus1, &kOne, true);
    params_.addParam("E", ParamType::Double, &E, &kMinus1, &kOne, true);
    params_.addParam("U", ParamType::Double, &U, &kMinus1, &kOne, true);
    params_.addParam("L", ParamType::Double, &L, &kMinus3, &kThree, true);
    params_.addParam("N", ParamType::Double, &N, &kMinus3, &kThree, true);
    params_.addParam("V", ParamType::Double, &V, &kMinus3, &kThree, true);
    params_.addParam("R", ParamType::Double, &R, &kMinus2, &kTwo, true);
}

void Unravel::restart() {
    currentPoint_ = {0, 0, 0};
    Attractor::restart();
}

}  // namespace qm
