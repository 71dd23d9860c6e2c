#pragma once
// Small POSIX helpers shared by the serial backend and the terminal
// simulator: an owner for file descriptors and the one EINTR retry loop.

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace veltrad {

// Repeats a system call while a signal interrupts it. Not for close(): Linux
// releases the descriptor even when close() reports EINTR.
template <typename Call>
auto RetryOnEintr(Call&& call)
{
    auto result = call();
    while (result == -1 && errno == EINTR)
        result = call();
    return result;
}

// Owns one file descriptor; closes it once.
class CUniqueFd {
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd() { Reset(); }
    CUniqueFd(CUniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }

    void Reset(int fd = -1)
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0)
            ::close(old);  // nothing useful to do about a failed close of a descriptor we drop
    }

private:
    int m_fd = -1;
};

}  // namespace veltrad
