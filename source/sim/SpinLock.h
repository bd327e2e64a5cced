// A minimal lock for the few state changes that must happen together. The
// Windows build uses the win32 thread model, where std::mutex is missing.
#pragma once

#include <atomic>

namespace sim {

class SpinLock {
public:
    SpinLock() = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    void Lock() {
        while (m_flag.test_and_set(std::memory_order_acquire)) {
        }
    }
    void Unlock() { m_flag.clear(std::memory_order_release); }

    class Guard {
    public:
        explicit Guard(SpinLock& lock) : m_lock(lock) { m_lock.Lock(); }
        ~Guard() { m_lock.Unlock(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        SpinLock& m_lock;
    };

private:
    std::atomic_flag m_flag = ATOMIC_FLAG_INIT;
};

}  // namespace sim
