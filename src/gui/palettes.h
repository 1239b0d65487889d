// What a document and the render worker ask of the two palettes (attractor and render
// parameters). The palettes implement it; without windows (a test), NoPalettes stands in.
#pragma once

#include <QRect>

#include <cstdint>

#include "core/render/render_engine.h"

namespace qm {
class Attractor;
class TBitmap3D;
}  // namespace qm

namespace qm::gui {

class Palettes {
public:
    virtual ~Palettes() = default;

    // Show the active document's objects; clear before they are destroyed.
    virtual void showAttractor(Attractor* attractor) = 0;
    virtual void showRenderTarget(TBitmap3D* target) = 0;
    // Forget these objects wherever a palette shows them (they are about to go).
    virtual void release(const Attractor* attractor, const TBitmap3D* target) = 0;
    // Re-read every row from the objects shown (after a search).
    virtual void refreshValues() = 0;
    // Rebuild the attractor rows (after the option count changed).
    virtual void fillAttractorPalette() = 0;
    virtual void setPalettesEnabled(bool enabled) = 0;
    virtual void setPalettesVisible(bool visible) = 0;
    // The kind and mode combo boxes follow the document.
    virtual void selectKind(std::int8_t kindCode) = 0;
    virtual void selectMode(int mode) = 0;
    // The "Echelle" row shows the render target's scale.
    virtual void refreshScale() = 0;
    // "Mises à jour": image developments per render.
    virtual std::int32_t updateCount() const = 0;
    // "Fils de calcul" and "Flux": the threads and the streams of a render, kept with the
    // program's settings. Without a palette: every processor, the default streams.
    virtual std::int32_t renderThreads() const { return defaultThreadCount(); }
    virtual std::int32_t renderStreams() const { return kDefaultStreams; }
    // Every text again from the string table.
    virtual void retranslate() = 0;
    // The screen rectangle the shown palettes cover (frames included); empty when none shows.
    virtual QRect occupiedArea() const { return {}; }
};

class NoPalettes final : public Palettes {
public:
    void showAttractor(Attractor*) override {}
    void showRenderTarget(TBitmap3D*) override {}
    void release(const Attractor*, const TBitmap3D*) override {}
    void refreshValues() override {}
    void fillAttractorPalette() override {}
    void setPalettesEnabled(bool) override {}
    void setPalettesVisible(bool) override {}
    void selectKind(std::int8_t) override {}
    void selectMode(int) override {}
    void refreshScale() override {}
    std::int32_t updateCount() const override { return 10; }
    void retranslate() override {}
};

}  // namespace qm::gui
