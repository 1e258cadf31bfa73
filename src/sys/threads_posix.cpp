// Time, threads and their synchronisation through the C++ library.
#include "sys/threads.h"

#include "sys/posix_internal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace kelzar::sys {

using namespace detail;

std::uint64_t MonotonicMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

unsigned ProcessorCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

Status RunInParallel(unsigned count, const std::function<void(unsigned)>& work) {
    // As on Windows: every thread exists before any work starts.
    std::atomic<bool> cancelled{false};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::size_t allowed;
    {
        std::lock_guard lock(Get().mutex);
        allowed = Get().threadsLeft;
    }
    for (unsigned i = 1; i < count; ++i) {
        if (threads.size() >= allowed) {
            cancelled = true;
            break;
        }
        threads.emplace_back([&, i] {
            go.wait(false);
            if (!cancelled) {
                work(i);
            }
        });
    }
    go = true;
    go.notify_all();
    if (!cancelled && count > 0) {
        work(0);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return cancelled ? Status(Failure{EAGAIN, "start a thread for", "the run"}) : Status::Done();
}

struct Mutex::Impl {
    std::mutex mutex;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() {
    impl_->mutex.lock();
}
void Mutex::Unlock() {
    impl_->mutex.unlock();
}

struct ConditionVariable::Impl {
    std::condition_variable_any variable;
};

ConditionVariable::ConditionVariable() : impl_(std::make_unique<Impl>()) {}
ConditionVariable::~ConditionVariable() = default;
void ConditionVariable::Wait(Mutex& mutex) {
    impl_->variable.wait(mutex.impl_->mutex);
}
void ConditionVariable::WakeAll() {
    impl_->variable.notify_all();
}

} // namespace kelzar::sys
