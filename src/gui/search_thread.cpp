#include "gui/search_thread.h"

#include "core/discover/worker_pool.h"

namespace qm::gui {

TSearchThread::TSearchThread(Attractor& attractor, double amount, Random31 generator,
                             QObject* parent)
    : QThread(parent), attractor_(attractor), amount_(amount), generator_(generator) {}

void TSearchThread::run() {
    lowerThreadPriority();
    threadRandom31() = generator_;
    do {
        ++trials_;
        found_ = attractor_.search(amount_);
    } while (!found_ && !stopRequested());
    generator_ = threadRandom31();
}

}  // namespace qm::gui
