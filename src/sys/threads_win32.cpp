// Time, threads and their synchronisation: the C runtime's threads, slim
// reader/writer locks and condition variables.
#include "sys/threads.h"

#include "common/variant.h"
#include "sys/win32_internal.h"

#include <windows.h>

#include <process.h>

#include <atomic>
#include <optional>
#include <vector>

namespace kelzar::sys {

using namespace detail;

std::uint64_t MonotonicMs() {
    return GetTickCount64();
}

void SleepMs(unsigned ms) {
    Sleep(ms);
}

unsigned ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

namespace {

struct ThreadHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle h) { return CloseHandle(h) != 0; }
};
using UniqueThread = UniqueResource<ThreadHandleTraits>;
using UniqueEvent = UniqueResource<ThreadHandleTraits>;

struct ThreadWork {
    const std::function<void(unsigned)>* work;
    unsigned index;
    HANDLE go;                          // set once every thread exists
    const std::atomic<bool>* cancelled; // a thread could not be had
};

unsigned __stdcall RunThread(void* parameter) {
    auto* job = static_cast<ThreadWork*>(parameter);
    WaitForSingleObject(job->go, INFINITE);
    if (!job->cancelled->load()) {
        (*job->work)(job->index);
    }
    return 0;
}

// _beginthreadex, not CreateThread: the C runtime sets itself up for each
// thread it starts. A build for fault injection has the system refuse some.
HANDLE StartThread(ThreadWork& job) {
    if (job.index > variant::ThreadsBeforeRefusal()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunThread, &job, 0, nullptr));
}

} // namespace

Status RunInParallel(unsigned count, const std::function<void(unsigned)>& work) {
    // Every thread exists before any work starts: the roles wait for one
    // another, so one that had to run later on this thread, or not at all,
    // would leave the others waiting for it for ever.
    UniqueEvent go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!go) {
        return LastFailure("create an event for", "the worker threads");
    }
    std::atomic<bool> cancelled{false};
    std::optional<Failure> failure;
    std::vector<ThreadWork> jobs(count);
    std::vector<UniqueThread> threads;
    for (unsigned i = 1; i < count; ++i) {
        jobs[i] = ThreadWork{&work, i, go.Get(), &cancelled};
        HANDLE thread = StartThread(jobs[i]);
        if (thread == nullptr) {
            failure = LastFailure("start a thread for", "the run");
            cancelled = true;
            break;
        }
        threads.emplace_back(thread);
    }
    SetEvent(go.Get());
    if (!cancelled && count > 0) {
        work(0);
    }
    for (const UniqueThread& thread : threads) {
        WaitForSingleObject(thread.Get(), INFINITE);
    }
    return failure ? Status(*failure) : Status::Done();
}

struct Mutex::Impl {
    SRWLOCK lock = SRWLOCK_INIT;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() {
    AcquireSRWLockExclusive(&impl_->lock);
}
void Mutex::Unlock() {
    ReleaseSRWLockExclusive(&impl_->lock);
}

struct ConditionVariable::Impl {
    CONDITION_VARIABLE variable = CONDITION_VARIABLE_INIT;
};

ConditionVariable::ConditionVariable() : impl_(std::make_unique<Impl>()) {}
ConditionVariable::~ConditionVariable() = default;
void ConditionVariable::Wait(Mutex& mutex) {
    SleepConditionVariableSRW(&impl_->variable, &mutex.impl_->lock, INFINITE, 0);
}
void ConditionVariable::WakeAll() {
    WakeAllConditionVariable(&impl_->variable);
}

} // namespace kelzar::sys
