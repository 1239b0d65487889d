#include "gui/file_dialog.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTreeView>

#include "core/strings/string_table.h"
#include "gui/texts.h"

namespace qm::gui {

namespace {

// The columns of the file system model: name, size, type, date modified.
class FrenchColumns final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QFileInfo info = files->fileInfo(source);
        const QLocale french(QLocale::French, QLocale::France);
        switch (index.column()) {
            case 1:
                return info.isDir() ? QString() : french.formattedDataSize(files->size(source));
            case 2:
                if (info.isDir()) return QIdentityProxyModel::data(index, role);
                return info.suffix().isEmpty()
                           ? qtext(TextId::kToolkitFile)
                           : fillText(qtext(TextId::kToolkitSuffixFile), {info.suffix().toUpper()});
            default:
                return french.toString(files->lastModified(source), QLocale::ShortFormat);
        }
    }
};

}  // namespace

void followInterfaceLanguage(QFileDialog& dialog) {
    if (strings().isFrench()) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setProxyModel(new FrenchColumns(&dialog));
    }
    // The detail columns as wide as what they show ("105 octets" rather than "105...ets").
    if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column <= 3; ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

}  // namespace qm::gui
