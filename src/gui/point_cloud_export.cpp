#include "gui/point_cloud_export.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QMetaObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/strings/string_table.h"
#include "gui/texts.h"

namespace qm::gui {

namespace {
constexpr int kProgressSteps = 1000;
}

bool askCloudSettings(QWidget* parent, CloudSettings& settings) {
    QDialog dialog(parent);
    dialog.setWindowTitle(qtext(TextId::kCloudOptionsCaption));
    auto* layout = new QFormLayout(&dialog);
    auto* count = new QSpinBox(&dialog);
    count->setObjectName(QStringLiteral("M_points"));
    count->setRange(1, static_cast<int>(kMaxCloudPoints));
    count->setSingleStep(100000);
    count->setGroupSeparatorShown(true);
    count->setValue(static_cast<int>(settings.count));
    count->setToolTip(qtext(TextId::kTipCloudCount));
    count->setAccessibleName(qtext(TextId::kCloudCount));
    layout->addRow(qtext(TextId::kCloudCount), count);
    auto* ascii = new QCheckBox(qtext(TextId::kCloudAscii), &dialog);
    ascii->setObjectName(QStringLiteral("C_ascii"));
    ascii->setChecked(settings.format == CloudFormat::Ascii);
    layout->addRow(ascii);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return false;
    settings.count = static_cast<std::uint64_t>(count->value());
    settings.format = ascii->isChecked() ? CloudFormat::Ascii : CloudFormat::BinaryLittleEndian;
    return true;
}

PointCloudExport::PointCloudExport(QWidget* parent, const QString& fileName,
                                   std::unique_ptr<Attractor> attractor, const RenderScene& scene,
                                   const Gradientf& speed, const Gradientf& angle,
                                   const CloudSettings& settings)
    : QObject(parent), parent_(parent), fileName_(fileName) {
    // A dialog that shows the progress and stops the export; it blocks nothing.
    dialog_ = new QProgressDialog(parent);
    dialog_->setWindowTitle(QStringLiteral("Quillmere"));
    dialog_->setLabelText(
        fillText(qtext(TextId::kCloudProgress), {QFileInfo(fileName).fileName()}));
    dialog_->setCancelButtonText(qtext(TextId::kCloudStop));
    dialog_->setRange(0, kProgressSteps);
    dialog_->setWindowModality(Qt::NonModal);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumDuration(0);
    dialog_->setValue(0);
    connect(dialog_, &QProgressDialog::canceled, this, &PointCloudExport::stop);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this,
            [this] { dialog_->setValue(static_cast<int>(progress() * kProgressSteps)); });
    timer_->start(100);

    worker_ = std::thread([this, attractor = std::move(attractor), scene, speed, angle, settings,
                           path = std::filesystem::path(fileName.toStdString())]() mutable {
        // One step below the interface, as the render worker.
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
        CloudResult result;
        try {
            // The scene's target, framed and sampled as the document's: on this thread, whose
            // generator the sampling may draw from.
            PreparedScene prepared = prepareScene(*attractor, scene, speed, angle);
            if (!prepared.target || !prepared.bounded) {
                result.status = CloudStatus::Diverged;
                result.divergedAfter = attractor->iterationCount();
            } else {
                result = writePointCloud(
                    path, *attractor, *prepared.target,
                    [&] {
                        CloudSettings s = settings;
                        s.comment = cloudComment(*attractor, *prepared.target);
                        return s;
                    }(),
                    control_);
            }
        } catch (const std::bad_alloc&) {
            result.status = CloudStatus::WriteFailed;
            result.write = {WriteStatus::WriteFailed, ENOMEM};
        }
        QMetaObject::invokeMethod(
            this, [this, result] { workerDone(result); }, Qt::QueuedConnection);
    });
}

PointCloudExport::~PointCloudExport() {
    control_.stopRequested.store(true, std::memory_order_relaxed);
    if (worker_.joinable()) worker_.join();
    delete dialog_;
}

void PointCloudExport::stop() {
    control_.stopRequested.store(true, std::memory_order_relaxed);
}

void PointCloudExport::workerDone(CloudResult result) {
    // The worker's last act was to post this call: it ends at once.
    if (worker_.joinable()) worker_.join();
    timer_->stop();
    dialog_->hide();
    QWidget* parent = parent_.data();
    switch (result.status) {
        case CloudStatus::Ok:
        case CloudStatus::Stopped:
        case CloudStatus::BadCount:
            break;
        case CloudStatus::Diverged:
            showError(parent, fillText(qtext(TextId::kCloudDiverged),
                                       {QString::number(result.divergedAfter)}));
            break;
        case CloudStatus::WriteFailed: {
            const QString reason =
                result.write.status == WriteStatus::NotRegular ? qtext(TextId::kReasonNotRegular)
                : result.write.systemError != 0
                    ? QString::fromLocal8Bit(std::strerror(result.write.systemError))
                    : qtext(TextId::kReasonWriteFailed);
            showError(parent, fillText(qtext(TextId::kWriteError), {fileName_, reason}));
            break;
        }
    }
    emit finished(result.status == CloudStatus::Ok);
}

}  // namespace qm::gui
