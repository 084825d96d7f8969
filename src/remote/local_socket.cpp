#include "remote/local_socket.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace queltor {

void UniqueFd::reset(int fd)
{
    // Not retried on EINTR: on Linux the descriptor is gone by then.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

std::optional<sockaddr_un> socketAddress(const QString &path, QString *why)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray file = QFile::encodeName(path);
    // With room for the terminating NUL.
    if (file.size() >= qsizetype(sizeof address.sun_path)) {
        if (why)
            *why = QStringLiteral("its path is longer than the %1 bytes a socket's path may have")
                       .arg(sizeof address.sun_path - 1);
        return std::nullopt;
    }
    std::memcpy(address.sun_path, file.constData(), std::size_t(file.size()));
    return address;
}

Connected connectTo(int fd, const sockaddr_un &address)
{
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return Connected::Yes;
        if (errno == ENOENT || errno == ECONNREFUSED)
            return Connected::NoListener;
        // EAGAIN: the listener's backlog is full; there is nothing to poll for.
        if (errno == EAGAIN)
            return Connected::Backlog;
        if (errno != EINTR)
            return Connected::Failed;
    }
}

} // namespace queltor
