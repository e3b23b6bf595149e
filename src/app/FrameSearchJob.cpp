#include "app/FrameSearchJob.h"

#include <QMetaObject>

namespace zv {

void TFrameSearchJob::Start(const Bitmap& picture) {
  Stop();
  stop_ = false;
  const unsigned run = ++run_;
  thread_ = std::thread([this, &picture, run] {
    TFrameSearch found = FindSheetFrame(picture, &stop_);
    // Queued to this object: dropped by Qt if it is destroyed first.
    QMetaObject::invokeMethod(
        this,
        [this, run, found = std::move(found)] {
          if (run != run_ || !thread_.joinable()) return;
          thread_.join();
          emit Finished(found);
        },
        Qt::QueuedConnection);
  });
}

void TFrameSearchJob::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ++run_;
}

} // namespace zv
