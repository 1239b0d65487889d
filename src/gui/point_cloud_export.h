// PointCloudExport: "Exporter le nuage de points..." of a document, written on a worker thread
// while a progress dialog shows how far it is and can stop it. The worker has its own copies
// of the attractor and the scene, so the document stays free to change meanwhile.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <thread>

#include "core/attractor/attractor.h"
#include "core/cloud/point_cloud.h"
#include "core/property/gradient.h"
#include "core/scene/scene.h"

class QProgressDialog;
class QTimer;
class QWidget;

namespace qm::gui {

// The dialog before the file dialog: how many points, and the text form or not. False when
// cancelled; settings keep the choice (and give the values it starts from).
bool askCloudSettings(QWidget* parent, CloudSettings& settings);

class PointCloudExport final : public QObject {
    Q_OBJECT
public:
    // Starts at once. parent: the window the progress dialog and the messages belong to.
    PointCloudExport(QWidget* parent, const QString& fileName, std::unique_ptr<Attractor> attractor,
                     const RenderScene& scene, const Gradientf& speed, const Gradientf& angle,
                     const CloudSettings& settings);
    // Stops the worker and waits for it: it checks the request every chunk of points and
    // never waits for this thread.
    ~PointCloudExport() override;

    void stop();
    bool running() const { return worker_.joinable(); }
    double progress() const { return control_.progress.load(std::memory_order_relaxed); }
    const QString& fileName() const { return fileName_; }
    QProgressDialog* progressDialog() const { return dialog_; }

signals:
    // Once the worker has ended and any failure has been reported; ok: the file is written.
    void finished(bool ok);

private:
    void workerDone(CloudResult result);

    QPointer<QWidget> parent_;
    QString fileName_;
    CloudControl control_;
    std::thread worker_;
    QProgressDialog* dialog_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace qm::gui
