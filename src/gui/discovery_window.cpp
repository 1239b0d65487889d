#include "gui/discovery_window.h"

#include <QAction>
#include <QBuffer>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

#include "core/discover/favourites.h"
#include "core/discover/lane_search.h"
#include "core/discover/thumbnail.h"
#include "core/discover/worker_pool.h"
#include "core/file/attractor_file.h"
#include "core/file/data_location.h"
#include "core/file/numbered_files.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"
#include "gui/main_window.h"
#include "gui/texts.h"

namespace qm::gui {

namespace {

constexpr QSize kThumbSize(200, 150);
constexpr int kModeCount = 5;

QSettings programSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillmere"),
                     QStringLiteral("Quillmere"));
}
const QString kFolderKey = QStringLiteral("Discovery/favourites");
const QString kModeKey = QStringLiteral("Discovery/mode");
const QString kNearKey = QStringLiteral("Discovery/nearPercent");

// Sorts by the role the grid names: find order ascending (a find's neighbours right after
// it), the others best first.
class FindItem final : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override {
        using R = TForm_discover;
        const int key = listWidget() ? listWidget()->property("sortKey").toInt() : 0;
        const auto order = [](const QListWidgetItem& i) {
            return std::pair(i.data(R::RoleGroup).toLongLong(), i.data(R::RoleOrder).toLongLong());
        };
        if (key == R::SortOrder) return order(*this) < order(other);
        const double a = data(R::RoleOrder + key).toDouble(),
                     b = other.data(R::RoleOrder + key).toDouble();
        if (a == b) return order(*this) < order(other);
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

QString number(double v) {
    std::array<char, 64> buffer;
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
    return QString::fromLatin1(buffer.data(), ec == std::errc() ? end - buffer.data() : 0);
}

std::optional<double> readNumber(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    double v = 0;
    const auto [end, ec] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), v);
    if (ec != std::errc() || end != bytes.data() + bytes.size() || bytes.isEmpty())
        return std::nullopt;
    return v;
}

// The kind of a keyword ("icon", as thumbnails carry it); -1 when none has it.
int kindOfKeyword(const QString& keyword) {
    for (int kind = 0; kind < kAttractorKindCount; ++kind)
        if (keyword.toStdString() == StringTable::builtinText(TextId::kKindKeywordFirst + kind))
            return kind;
    return -1;
}

QString kindName(int kind) {
    return kind >= 0 && kind < kAttractorKindCount ? qtext(TextId::kKindNameFirst + kind)
                                                   : QStringLiteral("?");
}

QString caption(const QString& first, double lyapunov, double dimension, double score) {
    return first + QLatin1Char('\n') + QStringLiteral("L ") + fixed(lyapunov, 3) +
           QStringLiteral("  D ") + fixed(dimension, 2) + QStringLiteral("  s ") + fixed(score, 2);
}

QImage imageOf(const Thumbnail& t) {
    return QImage(t.pixels.data(), t.width, t.height, t.bytesPerLine(), QImage::Format_BGR888)
        .copy();
}

// A dark tile for a thumbnail still being drawn or that cannot be drawn.
QIcon placeholderIcon() {
    QPixmap pixmap(kThumbSize);
    pixmap.fill(QColor(24, 24, 28));
    return QIcon(pixmap);
}

QString systemReason(const WriteResult& result) {
    if (result.status == WriteStatus::NotRegular) return qtext(TextId::kReasonNotRegular);
    if (result.systemError != 0) return QString::fromLocal8Bit(std::strerror(result.systemError));
    return qtext(TextId::kReasonWriteFailed);
}

ThumbnailSettings thumbnailSettings(const std::filesystem::path& programFolder, int mode) {
    ThumbnailSettings s;
    s.mode = mode;
    s.width = kThumbSize.width();
    s.height = kThumbSize.height();
    loadDefaultGradients(dataFolders(programFolder, DataEnvironment::current()), s.speedGradient,
                         s.angleGradient);
    return s;
}

}  // namespace

struct TForm_discover::Shown {
    int kind = 0;
    double lyapunov = 0, dimension = 0, score = 0;
    QString file;
    QString scene;
    QImage thumb;
    int mode = 0;
    std::int64_t group = -1;  // the find a near search started from; -1: none
};

struct TForm_discover::SearchRequest {
    int kind = kAllKinds;
    int option = 0;
    std::uint32_t seed = 0;
    std::string origin;  // near a find
    int percent = 100;
    std::int64_t group = -1;
    int limit = 0;  // finds after which the search ends; 0: none
    std::uint64_t generation = 0;
};

// A thumbnail to draw: the item it is for (by list and id), the parameters and the mode.
struct TForm_discover::ThumbJob {
    int tab = TabFinds;
    std::int64_t id = 0;
    std::string file;
    int mode = 2;  // for a scene read from `path`: the scene's own
    bool scored = false;
    std::uint64_t generation = 0;  // of the render mode; 0: whatever the mode
    // A file to read on the renderer thread instead of `file` (a scene or a parameter file),
    // whose attractor is measured too: its Lyapunov exponent and dimension, as "info" gives them.
    std::filesystem::path path;
};

struct TForm_discover::ThumbDone {
    int tab = TabFinds;
    std::int64_t id = 0;
    int mode = 2;
    std::uint64_t generation = 0;
    bool drawn = false;
    bool scored = false;
    QImage thumb;
    QString scene;
    double score = 0;
    bool measured = false;  // a job of a path: `read` says whether it was an attractor
    bool read = false;
    int kind = 0;
    double lyapunov = 0;
    double dimension = 0;
};

TForm_discover::TForm_discover(TMDIform& main, QWidget* parent)
    : QWidget(parent, Qt::Window), main_(main) {
    C_type = new QComboBox(this);
    C_sort = new QComboBox(this);
    C_rendu = new QComboBox(this);
    C_afficher = new QComboBox(this);
    M_score = new QDoubleSpinBox(this);
    M_dim_min = new QDoubleSpinBox(this);
    M_dim_max = new QDoubleSpinBox(this);
    UD_hasard = new QSpinBox(this);
    B_start = new QPushButton(this);
    B_voisins = new QPushButton(this);
    B_favori = new QPushButton(this);
    B_dossier = new QPushButton(this);
    L_type = new QLabel(this);
    L_sort = new QLabel(this);
    L_rendu = new QLabel(this);
    L_afficher = new QLabel(this);
    L_score = new QLabel(this);
    L_dimension = new QLabel(this);
    L_dim_a = new QLabel(this);
    L_hasard = new QLabel(this);
    L_status = new QLabel(this);
    L_dossier = new QLabel(this);
    L_dossier->setTextInteractionFlags(Qt::TextSelectableByMouse);
    T_onglets = new QTabWidget(this);

    auto makeGrid = [this] {
        auto* grid = new QListWidget(this);
        grid->setViewMode(QListView::IconMode);
        grid->setIconSize(kThumbSize);
        grid->setGridSize(QSize(216, 196));
        grid->setResizeMode(QListView::Adjust);
        grid->setMovement(QListView::Static);
        grid->setUniformItemSizes(true);
        grid->setWordWrap(true);
        grid->setSelectionMode(QAbstractItemView::SingleSelection);
        grid->setProperty("sortKey", 0);
        connect(grid, &QListWidget::itemActivated, this, &TForm_discover::openItem);
        connect(grid, &QListWidget::currentItemChanged, this, &TForm_discover::updateButtons);
        return grid;
    };
    L_grid = makeGrid();
    A_ouvrir = new QAction(this);
    A_voisins = new QAction(this);
    A_favori = new QAction(this);
    A_favori->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    A_favori->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    for (QAction* a : {A_ouvrir, A_voisins, A_favori}) L_grid->addAction(a);
    L_grid->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(A_ouvrir, &QAction::triggered, this, [this] { openItem(L_grid->currentItem()); });
    connect(A_voisins, &QAction::triggered, this, [this] { moreLikeThis(L_grid->currentItem()); });
    connect(A_favori, &QAction::triggered, this, [this] { star(L_grid->currentItem()); });
    L_favoris = makeGrid();
    // A favourite drawn here for want of a thumbnail keeps it only when asked.
    A_vignette = new QAction(this);
    L_favoris->addAction(A_vignette);
    L_favoris->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(A_vignette, &QAction::triggered, this,
            [this] { saveFavouriteThumbnail(L_favoris->currentItem()); });
    L_exemples = makeGrid();
    auto* favouritesPage = new QWidget(this);
    {
        auto* layout = new QVBoxLayout(favouritesPage);
        layout->setContentsMargins(0, 4, 0, 0);
        auto* bar = new QHBoxLayout;
        bar->addWidget(L_dossier, 1);
        bar->addWidget(B_dossier);
        layout->addLayout(bar);
        layout->addWidget(L_favoris, 1);
    }
    T_onglets->addTab(L_grid, QString());
    T_onglets->addTab(favouritesPage, QString());
    T_onglets->addTab(L_exemples, QString());

    for (int i = 0; i <= kAttractorKindCount; ++i) C_type->addItem(QString());
    for (int i = 0; i <= kAttractorKindCount; ++i) C_afficher->addItem(QString());
    for (int i = 0; i < 4; ++i) C_sort->addItem(QString());
    for (int i = 0; i < kModeCount; ++i) C_rendu->addItem(QString());
    M_score->setRange(0, 1);
    M_score->setSingleStep(0.05);
    M_score->setDecimals(2);
    for (QDoubleSpinBox* d : {M_dim_min, M_dim_max}) {
        d->setRange(0, 3);
        d->setSingleStep(0.1);
        d->setDecimals(1);
    }
    M_dim_max->setValue(3);
    UD_hasard->setRange(1, 100);
    UD_hasard->setSuffix(QStringLiteral(" %"));
    for (auto [label, buddy] :
         std::initializer_list<std::pair<QLabel*, QWidget*>>{{L_type, C_type},
                                                             {L_sort, C_sort},
                                                             {L_rendu, C_rendu},
                                                             {L_afficher, C_afficher},
                                                             {L_score, M_score},
                                                             {L_dimension, M_dim_min},
                                                             {L_hasard, UD_hasard}})
        label->setBuddy(buddy);

    // Two rows: what is searched and drawn, then how the finds are shown.
    auto* search = new QHBoxLayout;
    search->addWidget(L_type);
    search->addWidget(C_type);
    search->addWidget(L_rendu);
    search->addWidget(C_rendu);
    search->addWidget(B_start);
    search->addSpacing(12);
    search->addWidget(B_voisins);
    search->addWidget(L_hasard);
    search->addWidget(UD_hasard);
    search->addWidget(B_favori);
    search->addStretch(1);
    search->addWidget(L_status);
    auto* show = new QHBoxLayout;
    show->addWidget(L_sort);
    show->addWidget(C_sort);
    show->addSpacing(12);
    show->addWidget(L_afficher);
    show->addWidget(C_afficher);
    show->addWidget(L_score);
    show->addWidget(M_score);
    show->addWidget(L_dimension);
    show->addWidget(M_dim_min);
    show->addWidget(L_dim_a);
    show->addWidget(M_dim_max);
    show->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(search);
    layout->addLayout(show);
    layout->addWidget(T_onglets, 1);

    {
        const QSettings settings = programSettings();
        bool ok = false;
        const int mode = settings.value(kModeKey).toInt(&ok);
        mode_ = ok && mode >= 0 && mode < kModeCount ? mode : static_cast<int>(RenderMode::Light);
        const int near = settings.value(kNearKey).toInt(&ok);
        UD_hasard->setValue(ok && near >= 1 && near <= 100 ? near : kDefaultNearPercent);
        const QString folder = settings.value(kFolderKey).toString();
        favourites_ = !folder.isEmpty() ? std::filesystem::path(folder.toStdString())
                                        : defaultFavouritesFolder(DataEnvironment::current());
    }
    C_rendu->setCurrentIndex(mode_);

    connect(B_start, &QPushButton::clicked, this, [this] { running() ? stop() : start(); });
    connect(B_voisins, &QPushButton::clicked, this,
            [this] { moreLikeThis(L_grid->currentItem()); });
    connect(B_favori, &QPushButton::clicked, this, [this] { star(L_grid->currentItem()); });
    connect(B_dossier, &QPushButton::clicked, this, &TForm_discover::chooseFavouritesFolder);
    connect(C_sort, &QComboBox::activated, this,
            [this](int index) { setSortKey(static_cast<SortKey>(index)); });
    connect(C_rendu, &QComboBox::activated, this, [this](int index) {
        programSettings().setValue(kModeKey, index);
        setThumbnailMode(index);
    });
    connect(UD_hasard, &QSpinBox::editingFinished, this,
            [this] { programSettings().setValue(kNearKey, UD_hasard->value()); });
    connect(C_afficher, &QComboBox::currentIndexChanged, this, &TForm_discover::applyFilters);
    for (QDoubleSpinBox* d : {M_score, M_dim_min, M_dim_max})
        connect(d, &QDoubleSpinBox::valueChanged, this, &TForm_discover::applyFilters);
    connect(T_onglets, &QTabWidget::currentChanged, this, [this](int tab) {
        if (tab == TabExamples) showExamples();
        // Sorting and filtering apply to the finds.
        for (QWidget* w :
             std::initializer_list<QWidget*>{C_sort, C_afficher, M_score, M_dim_min, M_dim_max})
            w->setEnabled(tab == TabFinds);
        updateButtons();
    });
    retranslate();
    loadFavourites();
    updateButtons();
    resize(5 * 216 + 44, 3 * 196 + 110);
}

TForm_discover::~TForm_discover() {
    // Neither thread ever waits for this one: stopping and joining them is safe, and what they
    // still post dies with this window.
    stop_ = true;
    if (searcher_.joinable()) searcher_.join();
    {
        std::lock_guard guard(jobsLock_);
        quitRenderer_ = true;
        jobs_.clear();
    }
    jobsReady_.notify_all();
    if (renderer_.joinable()) renderer_.join();
}

void TForm_discover::retranslate() {
    setWindowTitle(qtext(TextId::kDiscoveryCaption));
    L_type->setText(qtext(TextId::kDiscoveryKind));
    L_sort->setText(qtext(TextId::kDiscoverySortBy));
    L_rendu->setText(qtext(TextId::kDiscoveryMode));
    L_afficher->setText(qtext(TextId::kDiscoveryShow));
    L_score->setText(qtext(TextId::kDiscoveryMinScore));
    L_dimension->setText(qtext(TextId::kDiscoveryDimension));
    L_dim_a->setText(qtext(TextId::kDiscoveryDimensionTo));
    L_hasard->setText(qtext(TextId::kDiscoveryNearPercent));
    C_type->setItemText(0, qtext(TextId::kDiscoveryAllKinds));
    C_afficher->setItemText(0, qtext(TextId::kDiscoveryAllKinds));
    for (int kind = 0; kind < kAttractorKindCount; ++kind) {
        C_type->setItemText(kind + 1, kindName(kind));
        C_afficher->setItemText(kind + 1, kindName(kind));
    }
    for (int i = 0; i < 4; ++i) C_sort->setItemText(i, qtext(TextId::kDiscoverySortOrder + i));
    for (int i = 0; i < kModeCount; ++i) C_rendu->setItemText(i, qtext(TextId::kModeNameFirst + i));
    B_start->setText(qtext(running() ? TextId::kDiscoveryStop : TextId::kDiscoveryStart));
    B_voisins->setText(qtext(TextId::kDiscoveryMoreLikeThis));
    A_ouvrir->setText(qtext(TextId::kDiscoveryOpen));
    A_voisins->setText(qtext(TextId::kDiscoveryMoreLikeThis));
    A_favori->setText(qtext(TextId::kDiscoveryStar));
    A_vignette->setText(qtext(TextId::kDiscoverySaveThumbnail));
    // The style's button margins leave the longer captions short of room.
    for (QPushButton* b : {B_start, B_voisins, B_favori, B_dossier})
        b->setMinimumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 24);
    B_voisins->setToolTip(qtext(TextId::kTipDiscoveryMoreLikeThis));
    B_favori->setText(qtext(TextId::kDiscoveryStar));
    B_favori->setToolTip(qtext(TextId::kTipDiscoveryStar));
    B_dossier->setText(qtext(TextId::kDiscoveryFolder));
    UD_hasard->setToolTip(qtext(TextId::kTipDiscoveryNearPercent));
    T_onglets->setTabText(TabFinds, qtext(TextId::kDiscoveryFindsTab));
    T_onglets->setTabText(TabFavourites, qtext(TextId::kDiscoveryFavouritesTab));
    T_onglets->setTabText(TabExamples, qtext(TextId::kDiscoveryExamplesTab));
    L_dossier->setText(fillText(qtext(TextId::kDiscoveryFolderIs),
                                {QString::fromStdString(favourites_.string())}));
    for (int i = 0; i < L_grid->count(); ++i) {
        QListWidgetItem* item = L_grid->item(i);
        const QString star = item->data(RoleStarred).toBool() ? QStringLiteral("★ ") : QString();
        item->setText(caption(
            star + kindName(item->data(RoleKind).toInt()), item->data(RoleLyapunov).toDouble(),
            item->data(RoleDimension).toDouble(), item->data(RoleScore).toDouble()));
    }
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

void TForm_discover::updateButtons() {
    QListWidgetItem* find = T_onglets->currentIndex() == TabFinds ? L_grid->currentItem() : nullptr;
    const bool starrable = find != nullptr && !find->data(RoleStarred).toBool() &&
                           !find->data(RoleScene).toString().isEmpty();
    B_voisins->setEnabled(find != nullptr);
    B_favori->setEnabled(starrable);
    A_ouvrir->setEnabled(find != nullptr);
    A_voisins->setEnabled(find != nullptr);
    A_favori->setEnabled(starrable);
    const QListWidgetItem* favourite = L_favoris->currentItem();
    A_vignette->setEnabled(favourite && favourite->data(RoleUnsaved).toBool());
}

// --- Search ----------------------------------------------------------------------------

void TForm_discover::start() {
    if (running()) return;
    const int index = C_type->currentIndex();
    SearchRequest request;
    request.kind = index <= 0 ? kAllKinds : index - 1;
    request.option = request.kind == static_cast<int>(AttractorKind::IFS) ||
                             request.kind == static_cast<int>(AttractorKind::PolynomialSprott)
                         ? option_
                         : 0;
    request.seed = nextSeed();
    startSearch(request);
}

bool TForm_discover::moreLikeThis(QListWidgetItem* find) {
    if (!find || find->listWidget() != L_grid) return false;
    stop();
    SearchRequest request;
    request.origin = find->data(RoleFile).toString().toStdString();
    request.percent = UD_hasard->value();
    request.group = find->data(RoleGroup).toLongLong();
    request.limit = kNearFinds;
    request.seed = nextSeed();
    // Beside the find: in find order, and in view.
    setSortKey(SortOrder);
    L_grid->setCurrentItem(find);
    L_grid->scrollToItem(find);
    startSearch(request);
    return true;
}

void TForm_discover::setSeed(std::uint32_t seed) {
    seed_ = seed;
    starts_ = 0;
}

std::uint32_t TForm_discover::nextSeed() {
    const std::uint32_t base =
        seed_ ? *seed_ : static_cast<std::uint32_t>(QDateTime::currentSecsSinceEpoch());
    return base + 7919u * starts_++;
}

void TForm_discover::startSearch(const SearchRequest& request) {
    stop_ = false;
    SearchRequest r = request;
    r.generation = ++searchGeneration_;
    searcher_ = std::thread([this, r] { search(r); });
    C_type->setEnabled(false);
    B_start->setText(qtext(TextId::kDiscoveryStop));
    T_onglets->setCurrentIndex(TabFinds);
}

void TForm_discover::stop() {
    if (!running()) return;
    stop_ = true;
    searcher_.join();  // the lanes end after their trial in progress
    searchEnded(searchGeneration_);
}

void TForm_discover::searchEnded(std::uint64_t generation) {
    // A search that ended by itself posts this; a newer one may run by then.
    if (generation != searchGeneration_) return;
    if (searcher_.joinable()) searcher_.join();
    C_type->setEnabled(true);
    B_start->setText(qtext(TextId::kDiscoveryStart));
    updateStatus();
    emit searchFinished();
}

void TForm_discover::closeEvent(QCloseEvent* event) {
    stop();
    event->accept();
}

// On the coordinating thread: rounds of the lanes and their finds' thumbnails on the pool.
void TForm_discover::search(const SearchRequest& request) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    WorkerPool pool(static_cast<int>(cores));
    DiscoverySettings settings;
    settings.kind = request.kind;
    settings.option = request.option;
    settings.seed = request.seed;
    settings.origin = request.origin;
    settings.percent = request.percent;
    LaneSearch lanes(settings);
    ThumbnailSettings thumb = thumbnailSettings(main_.programFolder(), mode_.load());
    std::int64_t counted = 0;
    int shown = 0;
    // Each batch on the pool draws the thumbnails of the last batch's finds and searches the
    // next rounds, so that no core idles while one draws; as many rounds as take about a
    // tenth of a second, so that a find shows soon after it is found.
    std::vector<Find> drawing;
    int rounds = 1;
    for (;;) {
        const std::int64_t inHand = shown + static_cast<std::int64_t>(drawing.size());
        const bool searching = lanes.valid() && (request.limit == 0 || inHand < request.limit);
        if (stop_.load() || (!searching && drawing.empty())) break;
        thumb.mode = mode_.load();
        std::vector<std::optional<Thumbnail>> thumbs(drawing.size());
        std::vector<std::string> scenes(drawing.size());
        const auto draw = [&](std::int64_t i) {
            if (stop_.load(std::memory_order_relaxed)) return;
            const auto at = static_cast<std::size_t>(i);
            auto parser = makeAttractorParser();
            LoadResult loaded = loadAttractorText(*parser, ReadStatus::Ok, drawing[at].file);
            if (!loaded) return;
            thumbs[at] = renderThumbnail(*loaded.attractor, thumb);
            if (thumbs[at]) scenes[at] = sceneText(*loaded.attractor, thumbnailScene(*thumbs[at]));
        };
        std::vector<Find> finds;
        const auto began = std::chrono::steady_clock::now();
        if (searching)
            finds = lanes.runRounds(pool, stop_, rounds, static_cast<std::int64_t>(drawing.size()),
                                    draw);
        else
            pool.run(static_cast<std::int64_t>(drawing.size()), draw);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        if (searching && took < 0.05) rounds = std::min(rounds * 2, 16);
        if (searching && took > 0.2) rounds = std::max(rounds / 2, 1);
        trials_.fetch_add(lanes.trials() - counted);
        counted = lanes.trials();
        for (std::size_t i = 0; i < drawing.size(); ++i) {
            if (!thumbs[i]) continue;
            const Thumbnail& t = *thumbs[i];
            Shown s;
            s.kind = drawing[i].kind;
            s.lyapunov = drawing[i].lyapunov;
            s.dimension = drawing[i].dimension;
            s.score = t.score.score;
            s.file = QString::fromStdString(drawing[i].file);
            s.scene = QString::fromStdString(scenes[i]);
            s.thumb = imageOf(t);
            s.mode = t.mode;
            s.group = request.group;
            ++shown;
            QMetaObject::invokeMethod(
                this, [this, s] { showFind(s); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            this, [this] { updateStatus(); }, Qt::QueuedConnection);
        if (request.limit > 0 &&
            finds.size() > static_cast<std::size_t>(std::max(0, request.limit - shown)))
            finds.resize(static_cast<std::size_t>(std::max(0, request.limit - shown)));
        drawing = std::move(finds);
    }
    // Ended by itself (enough finds near a find, or an origin that cannot be searched).
    if (!stop_.load())
        QMetaObject::invokeMethod(
            this, [this, g = request.generation] { searchEnded(g); }, Qt::QueuedConnection);
}

void TForm_discover::setMaxFinds(int count) {
    maxFinds_ = std::max(count, 1);
    trimFinds();
}

void TForm_discover::trimFinds() {
    // The grid keeps the last finds: the oldest that is not starred goes first.
    while (L_grid->count() > maxFinds_) {
        int oldest = -1;
        for (int i = 0; i < L_grid->count(); ++i) {
            QListWidgetItem* candidate = L_grid->item(i);
            if (candidate->data(RoleStarred).toBool()) continue;
            if (oldest < 0 || candidate->data(RoleOrder).toLongLong() <
                                  L_grid->item(oldest)->data(RoleOrder).toLongLong())
                oldest = i;
        }
        if (oldest < 0) return;  // every find is starred
        delete L_grid->takeItem(oldest);
    }
}

void TForm_discover::showFind(const Shown& find) {
    auto* item = new FindItem;
    item->setIcon(QIcon(QPixmap::fromImage(find.thumb)));
    item->setText(caption(kindName(find.kind), find.lyapunov, find.dimension, find.score));
    const std::int64_t order = sequence_++;
    item->setData(RoleOrder, static_cast<qlonglong>(order));
    item->setData(RoleGroup, static_cast<qlonglong>(find.group >= 0 ? find.group : order));
    item->setData(RoleLyapunov, find.lyapunov);
    item->setData(RoleDimension, find.dimension);
    item->setData(RoleScore, find.score);
    item->setData(RoleFile, find.file);
    item->setData(RoleKind, find.kind);
    item->setData(RoleScene, find.scene);
    item->setData(RoleMode, find.mode);
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    L_grid->addItem(item);
    // Drawn while the mode changed: drawn again in the new one.
    if (find.mode != mode_.load())
        queueThumbnail({TabFinds,
                        order,
                        find.file.toStdString(),
                        mode_.load(),
                        false,
                        modeGeneration_.load(),
                        {}});
    trimFinds();
    L_grid->sortItems();
    applyFilters();
    updateStatus();
    emit findShown(L_grid->count());
}

void TForm_discover::applyFilters() {
    const double minScore = M_score->value();
    const double low = M_dim_min->value(), high = M_dim_max->value();
    const int kind = C_afficher->currentIndex() - 1;  // -1: every kind
    for (int i = 0; i < L_grid->count(); ++i) {
        QListWidgetItem* item = L_grid->item(i);
        const double dimension = item->data(RoleDimension).toDouble();
        const bool shown = item->data(RoleScore).toDouble() >= minScore && dimension >= low &&
                           dimension <= high && (kind < 0 || item->data(RoleKind).toInt() == kind);
        item->setHidden(!shown);
    }
    updateStatus();
}

void TForm_discover::updateStatus() {
    L_status->setText(fillText(qtext(TextId::kDiscoveryStatus),
                               {QString::number(sequence_), QString::number(trials_.load())}));
}

void TForm_discover::openItem(QListWidgetItem* item) {
    if (!item) return;
    if (item->listWidget() != L_grid) {
        const QString path = item->data(RolePath).toString();
        if (!path.isEmpty()) main_.openFiles({path});
        return;
    }
    // As its thumbnail shows it: the mode and the framing, ready to render.
    const QByteArray scene = item->data(RoleScene).toString().toUtf8();
    if (SceneLoad loaded = readScene(std::string_view(scene.constData(), scene.size()))) {
        main_.openScene(std::move(loaded));
        return;
    }
    auto parser = makeAttractorParser();
    LoadResult loaded =
        loadAttractorText(*parser, ReadStatus::Ok, item->data(RoleFile).toString().toStdString());
    if (loaded) main_.openAttractor(std::move(loaded.attractor));
}

// --- Render mode -----------------------------------------------------------------------

void TForm_discover::setThumbnailMode(int mode) {
    if (mode < 0 || mode >= kModeCount) return;
    C_rendu->setCurrentIndex(mode);
    if (mode == mode_.load()) return;
    mode_ = mode;
    const std::uint64_t generation = ++modeGeneration_;
    {
        // Thumbnails queued for the former mode are of no use any more.
        std::lock_guard guard(jobsLock_);
        std::erase_if(jobs_, [](const ThumbJob& j) { return j.generation != 0; });
    }
    for (QListWidget* list : {L_grid, L_exemples}) {
        const int tab = list == L_grid ? TabFinds : TabExamples;
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            queueThumbnail({tab,
                            item->data(RoleOrder).toLongLong(),
                            item->data(RoleFile).toString().toStdString(),
                            mode,
                            false,
                            generation,
                            {}});
        }
    }
}

// --- Favourites ------------------------------------------------------------------------

// The item's thumbnail as the tool's gallery writes it: with what its caption shows, and, as
// every image of the programs, the scene it shows.
QByteArray TForm_discover::thumbnailPng(const QListWidgetItem* item, const QString& scene) const {
    QImage image = item->icon().pixmap(kThumbSize).toImage().convertToFormat(QImage::Format_RGB888);
    const int kind = item->data(RoleKind).toInt();
    image.setText(
        QStringLiteral("Kind"),
        QString::fromStdString(StringTable::builtinText(TextId::kKindKeywordFirst + kind)));
    image.setText(QStringLiteral("Lyapunov"), number(item->data(RoleLyapunov).toDouble()));
    image.setText(QStringLiteral("Dimension"), number(item->data(RoleDimension).toDouble()));
    image.setText(QStringLiteral("Score"), number(item->data(RoleScore).toDouble()));
    image.setText(QString::fromLatin1(kPngSceneKeyword.data(), kPngSceneKeyword.size()), scene);
    image.setText(QStringLiteral("Software"), QString::fromStdString(softwareName()));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

bool TForm_discover::saveFavouriteThumbnail(QListWidgetItem* favourite) {
    if (!favourite || favourite->listWidget() != L_favoris ||
        !favourite->data(RoleUnsaved).toBool())
        return false;
    const QByteArray png = thumbnailPng(favourite, favourite->data(RoleScene).toString());
    const std::filesystem::path path =
        favourites_ / numberedFileName(favourite->data(RoleOrder).toLongLong(), ".png");
    const WriteResult written = writeFileAtomically(
        path, std::string_view(png.constData(), static_cast<std::size_t>(png.size())),
        Replace::Never);
    if (!written) {
        showError(this, fillText(qtext(TextId::kDiscoveryThumbnailFailed),
                                 {QString::fromStdString(path.string()), systemReason(written)}));
        return false;
    }
    favourite->setData(RoleUnsaved, false);
    updateButtons();
    return true;
}

bool TForm_discover::star(QListWidgetItem* find) {
    if (!find || find->listWidget() != L_grid || find->data(RoleStarred).toBool()) return false;
    const QString scene = find->data(RoleScene).toString();
    if (scene.isEmpty()) return false;
    const QByteArray png = thumbnailPng(find, scene);

    const QByteArray sceneBytes = scene.toUtf8();
    const SavedFavourite saved = saveFavourite(
        favourites_,
        std::string_view(sceneBytes.constData(), static_cast<std::size_t>(sceneBytes.size())),
        std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
    if (!saved.result) {
        // The find stays in the grid, unstarred, to be starred again elsewhere.
        showError(this, fillText(qtext(TextId::kDiscoveryStarFailed),
                                 {QString::fromStdString(favourites_.string()),
                                  systemReason(saved.result)}));
        return false;
    }
    find->setData(RoleStarred, true);
    find->setText(caption(QStringLiteral("★ ") + kindName(find->data(RoleKind).toInt()),
                          find->data(RoleLyapunov).toDouble(), find->data(RoleDimension).toDouble(),
                          find->data(RoleScore).toDouble()));
    addFavourite(saved.number, saved.scene);
    updateButtons();
    return true;
}

void TForm_discover::setFavouritesFolder(const std::filesystem::path& folder) {
    favourites_ = folder;
    L_dossier->setText(fillText(qtext(TextId::kDiscoveryFolderIs),
                                {QString::fromStdString(favourites_.string())}));
    loadFavourites();
}

void TForm_discover::chooseFavouritesFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, qtext(TextId::kDiscoveryChooseFolder), QString::fromStdString(favourites_.string()));
    if (folder.isEmpty()) return;
    programSettings().setValue(kFolderKey, folder);
    setFavouritesFolder(folder.toStdString());
}

void TForm_discover::loadFavourites() {
    L_favoris->clear();
    for (const FavouriteFile& f : favouriteFiles(favourites_)) addFavourite(f.number, f.path);
}

void TForm_discover::addFavourite(std::int64_t n, const std::filesystem::path& path) {
    const QString name = QString::fromStdString(numberedFileName(n, ""));
    auto* item = new QListWidgetItem;
    item->setData(RoleOrder, static_cast<qlonglong>(n));
    item->setData(RolePath, QString::fromStdString(path.string()));
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QImage image;
    const std::filesystem::path thumbPath = favourites_ / numberedFileName(n, ".png");
    const auto l = image.load(QString::fromStdString(thumbPath.string()), "PNG")
                       ? readNumber(image.text(QStringLiteral("Lyapunov")))
                       : std::nullopt;
    const auto d = readNumber(image.text(QStringLiteral("Dimension")));
    const auto s = readNumber(image.text(QStringLiteral("Score")));
    const int kind = kindOfKeyword(image.text(QStringLiteral("Kind")));
    if (!image.isNull() && l && d && s) {
        item->setIcon(QIcon(QPixmap::fromImage(
            image.scaled(kThumbSize, Qt::KeepAspectRatio, Qt::SmoothTransformation))));
        const double lyapunov = l.value_or(0), dimension = d.value_or(0), score = s.value_or(0);
        item->setText(
            caption(name + QStringLiteral("  ") + kindName(kind), lyapunov, dimension, score));
        item->setData(RoleKind, kind);
        item->setData(RoleLyapunov, lyapunov);
        item->setData(RoleDimension, dimension);
        item->setData(RoleScore, score);
    } else {
        // A file without its thumbnail (an older favourite, one put there by hand): drawn,
        // scored and measured off this thread; one that turns out unreadable leaves the list.
        item->setIcon(placeholderIcon());
        item->setText(name);
        const bool scene = path.extension() == kSceneExtension;
        queueThumbnail({TabFavourites, n, {}, scene ? -1 : mode_.load(), true, 0, path});
    }
    L_favoris->addItem(item);
}

// --- Examples --------------------------------------------------------------------------

void TForm_discover::showExamples() {
    if (examplesShown_) return;
    examplesShown_ = true;
    // Beside the program first, then the installed and the XDG data folders; a name found
    // earlier hides the same name further on.
    std::vector<std::filesystem::path> files;
    std::vector<std::string> names;
    for (const std::filesystem::path& folder :
         dataFolders(main_.programFolder(), DataEnvironment::current())) {
        std::error_code ec;
        std::vector<std::filesystem::path> here;
        for (std::filesystem::directory_iterator it(folder / "examples", ec), end; !ec && it != end;
             it.increment(ec))
            if (it->path().extension() == ".qmattr" && it->is_regular_file(ec))
                here.push_back(it->path());
        std::sort(here.begin(), here.end());
        for (const auto& path : here) {
            const std::string name = path.filename().string();
            if (std::find(names.begin(), names.end(), name) != names.end()) continue;
            names.push_back(name);
            files.push_back(path);
        }
    }
    std::int64_t id = 0;
    for (const std::filesystem::path& path : files) {
        auto parser = makeAttractorParser();
        LoadResult loaded = loadAttractor(*parser, path);
        if (!loaded) continue;
        std::ostringstream params;
        if (!writeAttractor(*parser, *loaded.attractor, params)) continue;
        auto* item = new QListWidgetItem(
            placeholderIcon(), kindName(loaded.attractor->kindCode()) + QLatin1Char('\n') +
                                   QString::fromStdString(path.stem().string()));
        item->setData(RoleOrder, static_cast<qlonglong>(id));
        item->setData(RolePath, QString::fromStdString(path.string()));
        item->setData(RoleFile, QString::fromStdString(params.str()));
        item->setData(RoleKind, loaded.attractor->kindCode());
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        L_exemples->addItem(item);
        queueThumbnail(
            {TabExamples, id, params.str(), mode_.load(), true, modeGeneration_.load(), {}});
        ++id;
    }
}

// --- Thumbnails off the search ---------------------------------------------------------

void TForm_discover::queueThumbnail(ThumbJob job) {
    {
        std::lock_guard guard(jobsLock_);
        jobs_.push_back(std::move(job));
    }
    jobsReady_.notify_one();
    if (!renderer_.joinable()) renderer_ = std::thread([this] { renderThumbnails(); });
}

// On the renderer thread: the queued thumbnails, a pool's worth at a time.
void TForm_discover::renderThumbnails() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    WorkerPool pool(static_cast<int>(cores));
    // The colour maps are read once; each job sets its mode.
    const ThumbnailSettings base = thumbnailSettings(main_.programFolder(), 0);
    for (;;) {
        std::vector<ThumbJob> batch;
        {
            std::unique_lock guard(jobsLock_);
            jobsReady_.wait(guard, [this] { return quitRenderer_ || !jobs_.empty(); });
            if (quitRenderer_) return;
            while (!jobs_.empty() && batch.size() < cores) {
                batch.push_back(std::move(jobs_.front()));
                jobs_.pop_front();
            }
        }
        std::vector<ThumbDone> done(batch.size());
        pool.run(static_cast<std::int64_t>(batch.size()), [&](std::int64_t i) {
            const ThumbJob& job = batch[static_cast<std::size_t>(i)];
            ThumbDone& d = done[static_cast<std::size_t>(i)];
            d.tab = job.tab;
            d.id = job.id;
            d.mode = job.mode;
            d.generation = job.generation;
            d.scored = job.scored;
            if (job.generation != 0 && job.generation != modeGeneration_.load()) return;
            auto parser = makeAttractorParser();
            LoadResult loaded;
            int mode = job.mode;
            if (job.path.empty()) {
                loaded = loadAttractorText(*parser, ReadStatus::Ok, job.file);
            } else if (job.path.extension() == kSceneExtension) {
                SceneLoad scene = loadScene(job.path);
                if (scene) {
                    loaded.attractor = std::move(scene.attractor);
                    if (mode < 0) mode = scene.render.mode;
                }
            } else {
                loaded = loadAttractor(*parser, job.path);
            }
            d.measured = !job.path.empty();
            if (!loaded.attractor) return;
            if (d.measured) {
                d.read = true;
                // The estimates of a file found elsewhere: measured from state 0, as "info"
                // measures them.
                threadRandom31().state = 0;
                loaded.attractor->measure();
                d.kind = loaded.attractor->kindCode();
                d.lyapunov = loaded.attractor->lyapunov();
                d.dimension = loaded.attractor->dimension();
            }
            ThumbnailSettings settings = base;
            settings.mode = std::clamp(mode, 0, kModeCount - 1);
            settings.scored = job.scored;
            d.mode = settings.mode;
            const auto thumb = renderThumbnail(*loaded.attractor, settings);
            if (!thumb) return;
            d.drawn = true;
            d.thumb = imageOf(*thumb);
            d.score = thumb->score.score;
            d.scene = QString::fromStdString(sceneText(*loaded.attractor, thumbnailScene(*thumb)));
        });
        for (ThumbDone& d : done)
            if (d.drawn || d.measured)
                QMetaObject::invokeMethod(
                    this, [this, d] { showThumbnail(d); }, Qt::QueuedConnection);
    }
}

void TForm_discover::showThumbnail(const ThumbDone& done) {
    if (done.generation != 0 && done.generation != modeGeneration_.load()) return;
    QListWidget* list = done.tab == TabFinds      ? L_grid
                        : done.tab == TabExamples ? L_exemples
                                                  : L_favoris;
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        if (item->data(RoleOrder).toLongLong() != done.id) continue;
        if (done.tab == TabFavourites && done.measured) {
            const QString name = QString::fromStdString(numberedFileName(done.id, ""));
            const QString first = name + QStringLiteral("  ") + kindName(done.kind);
            if (!done.read) {
                // Not an attractor this program reads: no favourite to open.
                delete list->takeItem(i);
                break;
            }
            if (!done.drawn) {
                item->setText(first);  // its orbit diverges: named, not drawn
                break;
            }
            item->setData(RoleKind, done.kind);
            item->setData(RoleLyapunov, done.lyapunov);
            item->setData(RoleDimension, done.dimension);
            item->setData(RoleScore, done.score);
            item->setData(RoleScene, done.scene);
            item->setData(RoleUnsaved, true);
            item->setText(caption(first, done.lyapunov, done.dimension, done.score));
            updateButtons();
        }
        item->setIcon(QIcon(QPixmap::fromImage(done.thumb)));
        item->setData(RoleMode, done.mode);
        if (done.tab == TabFinds) {
            item->setData(RoleScene, done.scene);  // a star keeps what it shows
        } else if (done.tab == TabExamples && done.scored) {
            item->setData(RoleScore, done.score);
            item->setText(item->text() + QStringLiteral("  s ") + fixed(done.score, 2));
        }
        break;
    }
    emit thumbnailShown();
}

}  // namespace qm::gui
