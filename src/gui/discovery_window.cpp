#include "gui/discovery_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <vector>

#include "core/discover/lane_search.h"
#include "core/discover/thumbnail.h"
#include "core/discover/worker_pool.h"
#include "core/file/attractor_file.h"
#include "core/file/data_location.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/strings/string_table.h"
#include "gui/main_window.h"
#include "gui/texts.h"

namespace qm::gui {

namespace {

enum Role {
    RoleOrder = Qt::UserRole,
    RoleLyapunov,
    RoleDimension,
    RoleScore,
    RoleFile,
};

// Sorts by the role the grid names: find order ascending, the others best first.
class FindItem final : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override {
        const int key = listWidget() ? listWidget()->property("sortKey").toInt() : 0;
        const double a = data(RoleOrder + key).toDouble(),
                     b = other.data(RoleOrder + key).toDouble();
        if (key == TForm_discover::SortOrder || a == b)
            return data(RoleOrder).toLongLong() < other.data(RoleOrder).toLongLong();
        return a > b;
    }
};

QString fixed(double v, int decimals) {
    std::array<char, 64> buffer;
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v,
                                         std::chars_format::fixed, decimals);
    return ec == std::errc() ? QString::fromLatin1(buffer.data(), end - buffer.data())
                             : QStringLiteral("?");
}

}  // namespace

struct TForm_discover::Shown {
    int kind = 0;
    double lyapunov = 0, dimension = 0, score = 0;
    QString file;
    QImage thumb;
};

TForm_discover::TForm_discover(TMDIform& main, QWidget* parent)
    : QWidget(parent, Qt::Window), main_(main) {
    C_type = new QComboBox(this);
    C_sort = new QComboBox(this);
    B_start = new QPushButton(this);
    L_type = new QLabel(this);
    L_sort = new QLabel(this);
    L_status = new QLabel(this);
    L_grid = new QListWidget(this);
    L_grid->setViewMode(QListView::IconMode);
    L_grid->setIconSize(QSize(200, 150));
    L_grid->setGridSize(QSize(216, 196));
    L_grid->setResizeMode(QListView::Adjust);
    L_grid->setMovement(QListView::Static);
    L_grid->setUniformItemSizes(true);
    L_grid->setWordWrap(true);
    L_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    L_grid->setProperty("sortKey", 0);

    for (int i = 0; i <= kAttractorKindCount; ++i) C_type->addItem(QString());
    for (int i = 0; i < 4; ++i) C_sort->addItem(QString());

    auto* bar = new QHBoxLayout;
    bar->addWidget(L_type);
    bar->addWidget(C_type);
    bar->addSpacing(12);
    bar->addWidget(L_sort);
    bar->addWidget(C_sort);
    bar->addSpacing(12);
    bar->addWidget(B_start);
    bar->addStretch(1);
    bar->addWidget(L_status);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(L_grid, 1);

    connect(B_start, &QPushButton::clicked, this, [this] { running() ? stop() : start(); });
    connect(C_sort, &QComboBox::activated, this,
            [this](int index) { setSortKey(static_cast<SortKey>(index)); });
    connect(L_grid, &QListWidget::itemActivated, this, &TForm_discover::openFind);
    retranslate();
    resize(4 * 216 + 40, 3 * 196 + 70);
}

TForm_discover::~TForm_discover() {
    // The coordinating thread never waits for this one: stopping it and joining is safe, and
    // the finds it still posts die with this window.
    stop_ = true;
    if (searcher_.joinable()) searcher_.join();
}

void TForm_discover::retranslate() {
    setWindowTitle(qtext(TextId::kDiscoveryCaption));
    L_type->setText(qtext(TextId::kDiscoveryKind));
    L_sort->setText(qtext(TextId::kDiscoverySortBy));
    C_type->setItemText(0, qtext(TextId::kDiscoveryAllKinds));
    for (int kind = 0; kind < kAttractorKindCount; ++kind)
        C_type->setItemText(kind + 1, qtext(TextId::kKindNameFirst + kind));
    for (int i = 0; i < 4; ++i) C_sort->setItemText(i, qtext(TextId::kDiscoverySortOrder + i));
    B_start->setText(qtext(running() ? TextId::kDiscoveryStop : TextId::kDiscoveryStart));
    updateStatus();
}

void TForm_discover::setKind(int kind, int option) {
    C_type->setCurrentIndex(kind == kAllKinds ? 0 : kind + 1);
    option_ = option;
}

void TForm_discover::setSortKey(SortKey key) {
    C_sort->setCurrentIndex(key);
    L_grid->setProperty("sortKey", static_cast<int>(key));
    L_grid->sortItems();
    L_grid->scrollToTop();
}

void TForm_discover::start() {
    if (running()) return;
    stop_ = false;
    const int index = C_type->currentIndex();
    const int kind = index <= 0 ? kAllKinds : index - 1;
    // A new seed each start; the option applies to the kind it was given for.
    const auto seed =
        static_cast<std::uint32_t>(QDateTime::currentSecsSinceEpoch()) + 7919u * starts_++;
    searcher_ = std::thread([this, kind, option = option_, seed] { search(kind, option, seed); });
    C_type->setEnabled(false);
    B_start->setText(qtext(TextId::kDiscoveryStop));
}

void TForm_discover::stop() {
    if (!running()) return;
    stop_ = true;
    searcher_.join();  // the lanes end after their trial in progress
    searchEnded();
}

void TForm_discover::searchEnded() {
    if (searcher_.joinable()) searcher_.join();
    C_type->setEnabled(true);
    B_start->setText(qtext(TextId::kDiscoveryStart));
    updateStatus();
}

void TForm_discover::closeEvent(QCloseEvent* event) {
    stop();
    event->accept();
}

// On the coordinating thread: rounds of the lanes and their finds' thumbnails on the pool.
void TForm_discover::search(int kind, int option, std::uint32_t seed) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    WorkerPool pool(static_cast<int>(cores));
    DiscoverySettings settings;
    settings.kind = kind;
    settings.option = kind == static_cast<int>(AttractorKind::IFS) ||
                              kind == static_cast<int>(AttractorKind::PolynomialSprott)
                          ? option
                          : 0;
    settings.seed = seed;
    LaneSearch lanes(settings);
    ThumbnailSettings thumb;
    thumb.mode = static_cast<int>(RenderMode::Light);
    loadDefaultGradients(dataFolders(main_.programFolder(), DataEnvironment::current()),
                         thumb.speedGradient, thumb.angleGradient);
    std::int64_t counted = 0;
    while (!stop_.load()) {
        std::vector<Find> finds = lanes.runRound(pool, stop_);
        trials_.fetch_add(lanes.trials() - counted);
        counted = lanes.trials();
        std::vector<std::optional<Thumbnail>> thumbs(finds.size());
        pool.run(static_cast<std::int64_t>(finds.size()), [&](std::int64_t i) {
            if (stop_.load(std::memory_order_relaxed)) return;
            const auto at = static_cast<std::size_t>(i);
            auto parser = makeAttractorParser();
            LoadResult loaded = loadAttractorText(*parser, ReadStatus::Ok, finds[at].file);
            if (loaded) thumbs[at] = renderThumbnail(*loaded.attractor, thumb);
        });
        for (std::size_t i = 0; i < finds.size(); ++i) {
            if (!thumbs[i]) continue;
            const Thumbnail& t = *thumbs[i];
            Shown shown{
                finds[i].kind,
                finds[i].lyapunov,
                finds[i].dimension,
                t.score.score,
                QString::fromStdString(finds[i].file),
                QImage(t.pixels.data(), t.width, t.height, t.bytesPerLine(), QImage::Format_BGR888)
                    .copy()};
            QMetaObject::invokeMethod(
                this, [this, shown] { showFind(shown); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            this, [this] { updateStatus(); }, Qt::QueuedConnection);
    }
}

void TForm_discover::showFind(const Shown& find) {
    auto* item = new FindItem;
    item->setIcon(QIcon(QPixmap::fromImage(find.thumb)));
    item->setText(qtext(TextId::kKindNameFirst + find.kind) + QLatin1Char('\n') +
                  QStringLiteral("L ") + fixed(find.lyapunov, 3) + QStringLiteral("  D ") +
                  fixed(find.dimension, 2) + QStringLiteral("  s ") + fixed(find.score, 2));
    item->setData(RoleOrder, static_cast<qlonglong>(sequence_++));
    item->setData(RoleLyapunov, find.lyapunov);
    item->setData(RoleDimension, find.dimension);
    item->setData(RoleScore, find.score);
    item->setData(RoleFile, find.file);
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    L_grid->addItem(item);
    // The grid keeps the last finds: the oldest goes first.
    if (L_grid->count() > kMaxFinds) {
        int oldest = 0;
        for (int i = 1; i < L_grid->count(); ++i)
            if (L_grid->item(i)->data(RoleOrder).toLongLong() <
                L_grid->item(oldest)->data(RoleOrder).toLongLong())
                oldest = i;
        delete L_grid->takeItem(oldest);
    }
    L_grid->sortItems();
    updateStatus();
    emit findShown(L_grid->count());
}

void TForm_discover::updateStatus() {
    L_status->setText(fillText(qtext(TextId::kDiscoveryStatus),
                               {QString::number(sequence_), QString::number(trials_.load())}));
}

void TForm_discover::openFind(QListWidgetItem* item) {
    if (!item) return;
    auto parser = makeAttractorParser();
    LoadResult loaded =
        loadAttractorText(*parser, ReadStatus::Ok, item->data(RoleFile).toString().toStdString());
    if (loaded) main_.openAttractor(std::move(loaded.attractor));
}

}  // namespace qm::gui
