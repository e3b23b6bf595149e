#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zv {

// Blocks of picture rows handed from one producing thread (a decoder) to
// consumers on worker threads, through a fixed set of reusable buffers, so
// that decoding and the work on decoded rows overlap in bounded memory.
// With one worker the blocks are consumed in the order they were published;
// with none the producer consumes each block itself when it publishes it.
class RowPipeline {
public:
  struct Block {
    std::vector<std::uint8_t> bytes;
    int first = 0; // the first row's number
    int rows = 0;
  };
  // Called with the worker's number (0 to workers - 1, 0 without workers).
  using Consumer = std::function<void(int worker, const Block& block)>;

  RowPipeline(std::size_t blockBytes, int blocks, int workers, Consumer consume);
  // Stops the workers without waiting for what is queued.
  ~RowPipeline();
  RowPipeline(const RowPipeline&) = delete;
  RowPipeline& operator=(const RowPipeline&) = delete;

  // A free block to fill; waits until one is free.
  Block* Acquire();
  void Publish(Block* block);
  // After the last block: waits until every block is consumed, and raises
  // what a consumer raised.
  void Finish();

private:
  void Work(int worker);
  void Stop();

  Consumer consume_;
  std::vector<Block> blocks_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::condition_variable published_;
  std::vector<Block*> free_;
  std::deque<Block*> ready_;
  int busy_ = 0;
  bool closed_ = false;
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> workers_;
};

// Worker threads worth starting for a picture of this many pixels: none for
// small ones, where starting threads costs more than it saves.
int PipelineWorkers(std::uint64_t pixels, int wanted);

} // namespace zv
