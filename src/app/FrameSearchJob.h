// The sheet frame search of one picture on a worker thread, so that the
// window stays responsive on a large scan.
#pragma once

#include "model/FrameFinder.h"

#include <QObject>

#include <atomic>
#include <thread>

namespace zv {

class Bitmap;

// Start() looks for the frame on a worker; Finished brings the result back
// on the interface thread. Stop() ends a search and waits for its thread,
// after which the picture may be freed; a stopped search reports nothing.
class TFrameSearchJob : public QObject {
  Q_OBJECT

public:
  explicit TFrameSearchJob(QObject* parent = nullptr) : QObject(parent) {}
  ~TFrameSearchJob() override { Stop(); }

  void Start(const Bitmap& picture);
  void Stop();
  bool Running() const { return thread_.joinable(); }

signals:
  void Finished(const zv::TFrameSearch& found);

private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  // Which Start a result answers: one that arrives after Stop() or a later
  // Start() is dropped.
  unsigned run_ = 0;
};

} // namespace zv
