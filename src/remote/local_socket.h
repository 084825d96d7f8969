#pragma once

#include <QString>

#include <optional>
#include <utility>

#include <sys/un.h>

// What the panel's socket and its clients share: a descriptor that closes
// itself, and the socket file's address.
namespace queltor {

// Owns one file descriptor and closes it when it goes.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(other.release())
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// connect() of a non-blocking AF_UNIX socket to address, as the panel's clients read it.
enum class Connected {
    Yes,
    NoListener, // no socket file, or one nobody listens on
    Backlog,    // someone listens but has no room yet: try again shortly
    Failed,     // errno says why
};
Connected connectTo(int fd, const sockaddr_un &address);

// The address of the socket file at path; nothing, with why, when the path
// does not fit in one, since a path cut short would name another file.
std::optional<sockaddr_un> socketAddress(const QString &path, QString *why = nullptr);

} // namespace queltor
