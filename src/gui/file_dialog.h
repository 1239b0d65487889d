// The toolkit's file dialog in the interface's language. Its own texts follow the toolkit's
// translations; the size, date and type columns follow the system's regional settings, which
// under an English or C locale read "61 bytes", "7 Dec" and "plain text document" in a French
// interface. In French, a proxy model gives those columns in French.
#pragma once

class QFileDialog;

namespace qm::gui {

void followInterfaceLanguage(QFileDialog& dialog);

}  // namespace qm::gui
