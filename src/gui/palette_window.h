// PaletteWindow: a floating tool window with a row of controls at the top and a property
// palette under it; the base of the attractor and render palettes. PaletteWindows puts the
// two behind the Palettes interface the documents use.
#pragma once

#include <QWidget>

#include <memory>

#include "gui/palettes.h"

class QHBoxLayout;

namespace qm::gui {

class PropertyPalette;
class TMDIform;
class TForm_attpal;
class TForm_bmppal;
class TForm_view;

class PaletteWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTopHeight = 25;
    static constexpr int kLabelWidth = 64;
    // The render palette's room at the bottom of the screen column; the attractor palette
    // above it never grows into it.
    static constexpr int kRenderPaletteRoom = 330;

    PaletteWindow(TMDIform& main, QWidget* parent);
    PropertyPalette& palette() const { return *palette_; }
    QWidget* PN_top = nullptr;
    // The client height that shows every row: rows + the top panel + 4, within maxHeight
    // (longer lists scroll).
    void fitHeight();
    void setMaxFitHeight(int height) { maxFitHeight_ = height; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Keys nobody in the palette wanted: the shortcuts of the main window and of the active
    // document work from here too (F3 after editing a parameter).
    void keyPressEvent(QKeyEvent* event) override;
    // The document that owns these objects, when it is the active one.
    TForm_view* activeDocument() const;
    TMDIform& main_;
    QHBoxLayout* topLayout_ = nullptr;

private:
    PropertyPalette* palette_ = nullptr;
    int maxFitHeight_ = 0;
};

class PaletteWindows final : public Palettes {
public:
    explicit PaletteWindows(TMDIform& main);
    ~PaletteWindows() override;

    TForm_attpal& attractorPalette() const { return *attpal_; }
    TForm_bmppal& renderPalette() const { return *bmppal_; }

    void showAttractor(Attractor* attractor) override;
    void showRenderTarget(TBitmap3D* target) override;
    void release(const Attractor* attractor, const TBitmap3D* target) override;
    void refreshValues() override;
    void fillAttractorPalette() override;
    void setPalettesEnabled(bool enabled) override;
    void setPalettesVisible(bool visible) override;
    void selectKind(std::int8_t kindCode) override;
    void selectMode(int mode) override;
    void refreshScale() override;
    std::int32_t updateCount() const override;
    std::int32_t renderThreads() const override;
    std::int32_t renderStreams() const override;
    void retranslate() override;
    QRect occupiedArea() const override;

private:
    TMDIform& main_;
    std::unique_ptr<TForm_attpal> attpal_;
    std::unique_ptr<TForm_bmppal> bmppal_;
    bool placed_ = false;
};

}  // namespace qm::gui
