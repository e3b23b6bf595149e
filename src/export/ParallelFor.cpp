#include "export/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

namespace zv {

unsigned AvailableProcessors() {
  unsigned processors = std::thread::hardware_concurrency();
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) processors = static_cast<unsigned>(CPU_COUNT(&set));
#endif
  return std::max(processors, 1u);
}

void ParallelFor(std::size_t count, unsigned workers, const std::function<void(std::size_t)>& job) {
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex mutex;
  const auto work = [&] {
    for (std::size_t i; (i = next++) < count;) {
      try {
        job(i);
      } catch (...) {
        const std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
        next = count;
      }
    }
  };
  std::vector<std::thread> threads;
  const std::size_t extra = std::min<std::size_t>(workers, count) - (count > 0 && workers > 0 ? 1 : 0);
  for (std::size_t t = 0; t < extra; ++t) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

} // namespace zv
