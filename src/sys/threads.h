// Time, threads and their synchronisation.
#pragma once

#include "common/result.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kelzar::sys {

std::uint64_t MonotonicMs();
void SleepMs(unsigned ms);
unsigned ProcessorCount();
// Runs work(0) to work(count - 1), each on a thread of its own (work(0) on
// the calling thread), and returns when all have. When a thread cannot be
// had, none of them runs: the failure.
Status RunInParallel(unsigned count, const std::function<void(unsigned)>& work);

class Mutex {
  public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void Lock();
    void Unlock();

  private:
    friend class ConditionVariable;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~MutexLock() { mutex_.Unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex& mutex_;
};

class ConditionVariable {
  public:
    ConditionVariable();
    ~ConditionVariable();
    ConditionVariable(const ConditionVariable&) = delete;
    ConditionVariable& operator=(const ConditionVariable&) = delete;
    // Waits, with `mutex` locked by the caller, until woken (or spuriously).
    void Wait(Mutex& mutex);
    void WakeAll();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kelzar::sys
