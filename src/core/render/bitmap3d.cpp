#include "core/render/bitmap3d.h"

#include "core/render/develop_team.h"

#include <algorithm>
#include <cstring>

#include "core/math/cr_trig.h"

namespace qm {

namespace {
constexpr double kPi = 3.141592653589793;
}

TBitmap3D::TBitmap3D() : previewPoints(static_cast<std::size_t>(kPreviewSize)) {
    SetBackgroundColor({0, 0, 0});
    SetPointColor({1, 1, 1});
}

TBitmap3D::TBitmap3D(const TBitmap3D& source, ModeSwitch)
    : previewPoints(source.previewPoints),
      backgroundColor(source.backgroundColor),
      pointColor(source.pointColor),
      rotationAxis(source.rotationAxis),
      rotationAngle(source.rotationAngle),
      eye(source.eye),
      target(source.target),
      viewWidth(source.viewWidth),
      viewHeight(source.viewHeight),
      nearPlane(source.nearPlane),
      farPlane(source.farPlane),
      depthRange(source.depthRange),
      fitMargin(source.fitMargin),
      centre(source.centre),
      screenMin(source.screenMin),
      screenMax(source.screenMax),
      boxMin(source.boxMin),
      boxMax(source.boxMax),
      panX(source.panX),
      panY(source.panY),
      aspect(source.aspect),
      scale(source.scale),
      previewSize(source.previewSize),
      mirror(source.mirror) {
    viewValid = false;
    scanKind = ScanKind::Plain;
    SetProjection();
}

TBitmap3D::~TBitmap3D() = default;

void TBitmap3D::setDrawingContext(std::unique_ptr<DrawingContext> context) {
    context_ = std::move(context);
    if (context_) {
        context_->makeCurrent();
        context_->setClearColor(backgroundColor);
        context_->setPointColor(pointColor);
        if (imageWidth > 0 && imageHeight > 0) context_->setViewport(0, 0, imageWidth, imageHeight);
    }
}

void TBitmap3D::MakeCurrent() {
    if (context_) context_->makeCurrent();
}

void TBitmap3D::resizeImage() {
    image_.assign(static_cast<std::size_t>(std::max(imageWidth, 0)) * 3 *
                      static_cast<std::size_t>(std::max(imageHeight, 0)),
                  0);
}

void TBitmap3D::SetWidth(std::int32_t w) {
    imageWidth = w & 0xFFFC;
    resizeImage();
    if (imageHeight > 0) AllocateBuffers();
    rowBuffer.assign(static_cast<std::size_t>(3 * imageWidth), 0);
}

void TBitmap3D::SetHeight(std::int32_t h) {
    imageHeight = std::max(h, 0);
    resizeImage();
    if (imageWidth > 0) AllocateBuffers();
}

void TBitmap3D::AllocateBuffers() {
    pixelCount = imageWidth * imageHeight;
    aspect = static_cast<double>(imageWidth) / imageHeight;
    viewHeight = viewWidth / aspect;
    if (context_) context_->setViewport(0, 0, imageWidth, imageHeight);
    SetProjection();
}

void TBitmap3D::SetProjection() {
    MakeCurrent();
    projectionMatrix = Mat4::identity();
    projectionMatrix.ortho(-viewWidth / 2, viewWidth / 2, -viewHeight / 2, viewHeight / 2,
                           nearPlane, farPlane);
    depthRange = farPlane - nearPlane;
    if (viewValid) combinedMatrix = projectionMatrix * viewMatrix;
}

void TBitmap3D::SetView() {
    MakeCurrent();
    Mat4 v = Mat4::identity();
    v.lookAt(eye, target, {0, 1, 0});
    v.scale(scale, scale, scale);
    v.translate(panX, panY, 0);
    v.rotate(rotationAngle * (1 / kPi) * 180, rotationAxis);
    v.translate(-centre.x, -centre.y, -centre.z);
    viewMatrix = v;
    combinedMatrix = projectionMatrix * viewMatrix;
    viewValid = true;
}

void TBitmap3D::PlotBlock(const Vecd* points, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) PlotPoint(points[i]);
}

void TBitmap3D::ClearImage() {
    const std::uint8_t bgr[3] = {channelByte(backgroundColor.b), channelByte(backgroundColor.g),
                                 channelByte(backgroundColor.r)};
    for (std::size_t k = 0; k < image_.size(); k += 3) std::memcpy(&image_[k], bgr, 3);
    for (std::size_t k = 0; k + 2 < rowBuffer.size(); k += 3) std::memcpy(&rowBuffer[k], bgr, 3);
}

void TBitmap3D::BeginScan(ScanKind kind) {
    scanKind = kind;
    if (kind != ScanKind::Plain) {
        boxMax = centre = boxMin = screenMax = screenMin = {0, 0, 0};
        panX = panY = 0;
        if (kind == ScanKind::Fit) {
            scale = 1.0;
            SetView();
        }
    }
    previewIndex = 0;
    boxMin = screenMin = {kMaxDouble, kMaxDouble, kMaxDouble};
    boxMax = screenMax = {-kMaxDouble, -kMaxDouble, -kMaxDouble};
}

namespace {

void widen(Vecd& lo, Vecd& hi, const Vecd& p) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

}  // namespace

void TBitmap3D::ScanPoint(const Vecd& p) {
    const auto& m = combinedMatrix.m;
    auto widenScreen = [&](const Vecd& q) {
        const double u = (m[0] * q.x + m[4] * q.y + m[8] * q.z + m[12] + 1) * 0.5;
        const double v = (m[1] * q.x + m[5] * q.y + m[9] * q.z + m[13] + 1) * 0.5;
        screenMin.x = std::min(screenMin.x, u);
        screenMax.x = std::max(screenMax.x, u);
        screenMin.y = std::min(screenMin.y, v);
        screenMax.y = std::max(screenMax.y, v);
    };
    widen(boxMin, boxMax, p);
    widenScreen(p);
    if (mirror) {
        boxMin.z = std::min(boxMin.z, -p.z);
        boxMax.z = std::max(boxMax.z, -p.z);
        widenScreen({p.x, p.y, -p.z});
    }
}

void TBitmap3D::EndScan() {
    if (scanKind == ScanKind::Fit) {
        const double du = screenMax.x - screenMin.x;
        const double dv = screenMax.y - screenMin.y;
        if (du == 0 && dv == 0)
            scale = 1.0;
        else
            scale = (1 - fitMargin) / (du > dv ? du : dv);
    }
    if (scanKind != ScanKind::Plain) {
        centre = (boxMin + boxMax) * 0.5;
        ProjectPoint(centre, projectedCentre);
        panX = (screenMin.x + screenMax.x) * 0.5 - projectedCentre.x / imageWidth;
        panY = (projectedCentre.y / imageHeight - (screenMin.y + screenMax.y) * 0.5) / aspect;
        SetView();
    }
}

void TBitmap3D::DrawPreview() {
    if (!context_) return;
    SetView();
    context_->drawPreview(*this);
}

void TBitmap3D::ProjectPoint(const Vecd& p, Vecd& out) {
    out = project(p);
}

void TBitmap3D::SetBackgroundColor(const ColorRGBf& c) {
    MakeCurrent();
    backgroundColor = c;
    if (context_) context_->setClearColor(c);
}

void TBitmap3D::SetPointColor(const ColorRGBf& c) {
    MakeCurrent();
    pointColor = c;
    if (context_) context_->setPointColor(c);
}

void TBitmap3D::SetEye(const Vecd& p) {
    eye = p;
    SetView();
}

void TBitmap3D::SetTarget(const Vecd& p) {
    target = p;
    SetView();
}

namespace {

using Mat3 = std::array<std::array<double, 3>, 3>;

// Rotation by angle about the unit axis a, in the row layout the drag composition uses.
Mat3 axisAngle(const Vecd& a, double angle) {
    const auto [s, c] = crm::sincos(angle);
    const double t = 1 - c;
    return {{{c + t * a.x * a.x, t * a.x * a.y + s * a.z, t * a.x * a.z - s * a.y},
             {t * a.x * a.y - s * a.z, c + t * a.y * a.y, t * a.y * a.z + s * a.x},
             {t * a.x * a.z + s * a.y, t * a.y * a.z - s * a.x, c + t * a.z * a.z}}};
}

Mat3 product(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    return r;
}

}  // namespace

void TBitmap3D::Rotate(double dx, double dy) {
    const double d = std::sqrt(dx * dx + dy * dy);
    if (d < 1) return;
    const Vecd dragAxis{dy / d, dx / d, 0};
    const double dragAngle = d * kPi / imageWidth;
    const Mat3 r = product(axisAngle(rotationAxis, rotationAngle), axisAngle(dragAxis, dragAngle));

    // Rounding can push the trace term just past 1 (or -1); arccos would then give NaN and the
    // rotation would stay NaN for good.
    const double cosine = std::clamp((r[0][0] + r[1][1] + r[2][2] - 1) * 0.5, -1.0, 1.0);
    const double angle = crm::acos(cosine);
    const double s = crm::sin(angle);
    Vecd axis;
    if (std::fabs(s) / kPi < 1e-7) {
        if (angle < kPi / 2) {
            axis = {0, 1, 0};  // no rotation: any axis serves
        } else {
            // A half turn: R = 2 a a^T - I, so the axis comes from the diagonal, signed by the
            // off-diagonal terms of its largest component.
            const double diag[3] = {r[0][0], r[1][1], r[2][2]};
            const int k = diag[0] >= diag[1] && diag[0] >= diag[2] ? 0 : diag[1] >= diag[2] ? 1 : 2;
            double a[3];
            a[k] = std::sqrt(std::max(0.0, (diag[k] + 1) * 0.5));
            for (int j = 0; j < 3; ++j)
                if (j != k)
                    a[j] = (r[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)] +
                            r[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)]) /
                           (4 * a[k]);
            axis = {a[0], a[1], a[2]};
        }
    } else {
        axis = {(r[1][2] - r[2][1]) / (2 * s), (r[2][0] - r[0][2]) / (2 * s),
                (r[0][1] - r[1][0]) / (2 * s)};
    }
    const double length = std::sqrt(dot(axis, axis));
    if (length > 0) axis = {axis.x / length, axis.y / length, axis.z / length};
    rotationAxis = axis;
    rotationAngle = angle;
}

void TBitmap3D::StoreRow(std::int32_t r) {
    if (rowBuffer.empty() || r < 0 || r >= imageHeight) return;
    std::memcpy(image_.data() + static_cast<std::size_t>(imageHeight - 1 - r) * bytesPerLine(),
                rowBuffer.data(), static_cast<std::size_t>(bytesPerLine()));
}

void TBitmap3D::FindPeak() {
    std::vector<float> peaks(static_cast<std::size_t>(peakCount()));
    findPeakPart(0, 1, peaks.data());
    preparePeaks(peaks.data(), 1);
}

void TBitmap3D::BuildImage() {
    developImage(*this, developTeam_);
}

void TBitmap3D::BuildImage16(std::uint16_t* out, std::ptrdiff_t rowStride) {
    developImage16(*this, out, rowStride, developTeam_);
}

void TBitmap3D::buildRows16(std::uint16_t* out, std::ptrdiff_t rowStride, std::int32_t first,
                            std::int32_t last) {
    for (std::int32_t y = first; y < last; ++y) {
        const std::int32_t line = imageHeight - 1 - y;
        const std::uint8_t* in = scanLine(line);
        std::uint16_t* o = out + line * rowStride;
        for (std::int32_t x = 0; x < imageWidth; ++x, in += 3, o += 4) {
            o[0] = static_cast<std::uint16_t>(in[2] * 257);
            o[1] = static_cast<std::uint16_t>(in[1] * 257);
            o[2] = static_cast<std::uint16_t>(in[0] * 257);
            o[3] = 65535;
        }
    }
}

void TBitmap3D::RenderPreview() {
    SetView();
    ClearImage();
    PlotBlock(previewPoints.data(), previewSize);
    BuildImage();
}

}  // namespace qm
