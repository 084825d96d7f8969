#include "remote/local_socket.h"

#include <QFile>

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

} // namespace queltor
