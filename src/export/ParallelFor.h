// Independent jobs over the processors: results do not depend on how many
// there are, since each job writes only its own slot.
#pragma once

#include <cstddef>
#include <functional>

namespace zv {

// The processors this process may run on (a container may limit them), at least 1.
unsigned AvailableProcessors();

// Runs job(0) .. job(count - 1) on up to `workers` threads (the calling one
// among them) and returns when all are done; the first exception a job
// raises is raised again here, after the others ended.
void ParallelFor(std::size_t count, unsigned workers, const std::function<void(std::size_t)>& job);

} // namespace zv
