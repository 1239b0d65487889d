// TForm_bmppal: the floating "vue" palette. It shows and edits the render settings of the
// active document: the render mode, the image size, the number of display updates, the view
// scale and the parameters of the mode. Changes stay pending until committed (Return, or
// releasing a track bar), except the scale.
#pragma once

#include "gui/palette_window.h"

class QComboBox;
class QLabel;

namespace qm {
class Property;
}

namespace qm::gui {

class TForm_bmppal final : public PaletteWindow {
    Q_OBJECT
public:
    TForm_bmppal(TMDIform& main, QWidget* parent);

    void showRenderTarget(TBitmap3D* target);
    void clearPalette();
    void setPaletteEnabled(bool on);
    void refreshScale();
    void refreshValues();
    void selectMode(int mode);
    // "Mises à jour": image developments per render.
    std::int32_t updateCount() const;
    // "Fils de calcul" and "Flux", read from the program's settings when the palette is made
    // and written back at every change.
    std::int32_t renderThreads() const { return threads_; }
    std::int32_t renderStreams() const { return streams_; }
    TBitmap3D* shownTarget() const { return shown_; }
    void retranslate();

    QLabel* L_render = nullptr;
    QComboBox* C_render = nullptr;

private:
    void fill(TBitmap3D* target);
    void paletteChanged(Property& p);
    void C_renderChange(int index);
    TForm_view* owner(const TBitmap3D* target) const;

    TBitmap3D* shown_ = nullptr;
    // The size rows' values; a change resizes the document's image.
    int width_ = 0;
    int height_ = 0;
    int threads_ = 1;
    int streams_ = 16;
    // "Sauvegarde auto (min)": minutes between two autosaves of a running render, kept with
    // the program's settings.
    int autosaveMinutes_ = 5;
};

}  // namespace qm::gui
