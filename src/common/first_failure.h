// The first failure met by any of several threads that use one thing at
// once (readers of one file), kept for whoever asks once they are done.
#pragma once

#include "common/result.h"

#include <atomic>
#include <optional>

namespace kelzar {

class FirstFailure {
  public:
    // Keeps the failure unless one was kept before.
    void Offer(const Failure& failure) {
        if (!taken_.exchange(true, std::memory_order_acq_rel)) {
            failure_ = failure;
            kept_.store(true, std::memory_order_release);
        }
    }
    // The failure kept; none while the first one is still being kept.
    std::optional<Failure> Get() const {
        if (!kept_.load(std::memory_order_acquire)) {
            return std::nullopt;
        }
        return failure_;
    }

  private:
    std::atomic<bool> taken_{false};
    std::atomic<bool> kept_{false};
    Failure failure_;
};

} // namespace kelzar
