// TSearchThread: runs the trials of a document's search ("Rechercher") on a worker thread, one
// priority step below normal, so that the windows stay live. It draws from the interface
// thread's random31 state, taken when it is made, and hands the final state back through
// generator() once finished: a sequence of searches then gives the same finds as trials run
// on the interface thread. While it runs, the interface thread leaves the attractor alone.
#pragma once

#include <QThread>

#include <atomic>
#include <cstdint>

#include "core/attractor/attractor.h"

namespace qm::gui {

class TSearchThread final : public QThread {
    Q_OBJECT
public:
    // Trials of amount (the "Hasard" percentage times 0.01) until one is accepted or a stop
    // is requested, at least one.
    TSearchThread(Attractor& attractor, double amount, Random31 generator,
                  QObject* parent = nullptr);

    // Ends the search after the trial in progress.
    void requestStop() { stop_.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }
    // Read once finished.
    bool found() const { return found_; }
    Random31 generator() const { return generator_; }
    std::int64_t trials() const { return trials_; }

protected:
    void run() override;

private:
    Attractor& attractor_;
    const double amount_;
    Random31 generator_;
    std::atomic<bool> stop_{false};
    bool found_ = false;
    std::int64_t trials_ = 0;
};

}  // namespace qm::gui
