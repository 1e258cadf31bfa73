// What went wrong in a run, cause by cause, for whoever has to find out why
// a run exited 1: the exit code stays 0 or 1, and the program shows nothing.
#pragma once

#include "common/result.h"
#include "sys/threads.h"

#include <string>
#include <vector>

namespace kelzar {

// Added to from any thread (the walk feeds the pipeline while the writer
// works).
class RunReport {
  public:
    void Add(Failure failure) {
        sys::MutexLock lock(mutex_);
        failures_.push_back(std::move(failure));
    }
    // A failure the program itself found (no system error behind it).
    void Add(std::string what, std::string path) {
        Add(Failure{0, std::move(what), std::move(path)});
    }
    std::vector<Failure> Failures() const {
        sys::MutexLock lock(mutex_);
        return failures_;
    }

  private:
    mutable sys::Mutex mutex_;
    std::vector<Failure> failures_;
};

// One line for a failure: "kelzar: cannot OPERATION PATH (error CODE)".
std::string DescribeFailure(const Failure& failure);

} // namespace kelzar
