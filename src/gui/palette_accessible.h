// Accessibility of the property palettes. Their rows are painted, not widgets, so a screen
// reader would see an empty list: each row gets an accessible object of its own (name = the
// row's caption, value = the text it shows, role after its editor: edit, slider, combo box,
// check box or picture), and a row's check box ("Fixé pendant la recherche") is a check box
// child of the row.
#pragma once

#include <QAccessibleWidget>

namespace qm {
class Property;
}

namespace qm::gui {

class PropertyPalette;

// The palette as a list whose children are its rows.
class PropertyPaletteAccessible final : public QAccessibleWidget {
public:
    explicit PropertyPaletteAccessible(PropertyPalette* palette);
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    QString text(QAccessible::Text t) const override;

private:
    PropertyPalette* palette() const;
};

// Makes Qt use PropertyPaletteAccessible for every PropertyPalette; called once.
void installPaletteAccessibility();

// The row's accessible object, made on first demand and kept until the rows are cleared.
QAccessibleInterface* rowAccessible(PropertyPalette& palette, Property& row);
// Forgets every row object of the palette (its rows are about to go).
void releaseRowAccessibles(PropertyPalette& palette);
// Tells assistive technology that a row's value or state changed.
void notifyRowChanged(PropertyPalette& palette, Property& row);

}  // namespace qm::gui
