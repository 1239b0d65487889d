// TForm_attpal: the floating "attracteur" palette. It shows and edits the active document's
// attractor: its kind, its option (IFS map count, polynomial degree), the document's
// "Itérations" and "Hasard", and one row per parameter, whose check box holds the parameter
// fixed during the search.
#pragma once

#include "gui/palette_window.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace qm {
class Property;
}

namespace qm::gui {

class TForm_attpal final : public PaletteWindow {
    Q_OBJECT
public:
    TForm_attpal(TMDIform& main, QWidget* parent);

    // Rebuilds the rows unless this attractor is already shown.
    void showAttractor(Attractor* attractor);
    void fillPalette(Attractor* attractor);
    void refreshValues();
    void clearPalette();
    void setPaletteEnabled(bool enabled);
    void selectKind(std::int8_t kindCode);
    Attractor* shownAttractor() const { return shown_; }
    void retranslate();

    QLabel* L_type = nullptr;
    QComboBox* C_type = nullptr;
    QLabel* L_option = nullptr;
    QLineEdit* M_option = nullptr;
    QSpinBox* UD_option = nullptr;

private:
    void updateOptionRow(Attractor* attractor);
    void C_typeChange(int index);
    void UD_optionClick(int position);
    void paletteChanged(Property& p);
    TForm_view* owner(const Attractor* attractor) const;

    Attractor* shown_ = nullptr;
    bool updatingOption_ = false;
};

}  // namespace qm::gui
