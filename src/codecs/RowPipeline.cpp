#include "codecs/RowPipeline.h"

#include <algorithm>

namespace zv {

RowPipeline::RowPipeline(std::size_t blockBytes, int blocks, int workers, Consumer consume)
    : consume_(std::move(consume)), blocks_(static_cast<std::size_t>(std::max(blocks, 1))) {
  for (Block& b : blocks_) {
    b.bytes.resize(blockBytes);
    free_.push_back(&b);
  }
  try {
    for (int i = 0; i < workers; ++i) workers_.emplace_back([this, i] { Work(i); });
  } catch (...) {
    Stop();
    throw;
  }
}

RowPipeline::~RowPipeline() { Stop(); }

void RowPipeline::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  published_.notify_all();
  freed_.notify_all();
  for (std::thread& t : workers_)
    if (t.joinable()) t.join();
  workers_.clear();
}

RowPipeline::Block* RowPipeline::Acquire() {
  std::unique_lock lock(mutex_);
  freed_.wait(lock, [this] { return !free_.empty() || failure_; });
  if (failure_) std::rethrow_exception(failure_);
  Block* b = free_.back();
  free_.pop_back();
  return b;
}

void RowPipeline::Publish(Block* block) {
  if (workers_.empty()) {
    consume_(0, *block);
    std::lock_guard lock(mutex_);
    free_.push_back(block);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    ready_.push_back(block);
  }
  published_.notify_one();
}

void RowPipeline::Finish() {
  {
    std::unique_lock lock(mutex_);
    closed_ = true;
    published_.notify_all();
    freed_.wait(lock, [this] { return (ready_.empty() && busy_ == 0) || failure_; });
  }
  Stop();
  if (failure_) std::rethrow_exception(failure_);
}

void RowPipeline::Work(int worker) {
  for (;;) {
    Block* b = nullptr;
    {
      std::unique_lock lock(mutex_);
      published_.wait(lock, [this] { return stopping_ || !ready_.empty() || closed_; });
      if (stopping_ || ready_.empty()) return;
      b = ready_.front();
      ready_.pop_front();
      ++busy_;
    }
    try {
      consume_(worker, *b);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      --busy_;
      free_.push_back(b);
    }
    freed_.notify_all();
  }
}

int PipelineWorkers(std::uint64_t pixels, int wanted) {
  constexpr std::uint64_t smallPicture = 1 << 20;
  return pixels < smallPicture ? 0 : std::max(wanted, 0);
}

} // namespace zv
