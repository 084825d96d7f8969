#pragma once

#include "remote/local_socket.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <sys/socket.h>
#include <thread>

// A panel's socket at path with nobody behind it but a thread that does what
// it is told with every connection: the ends a real panel seldom shows, such
// as one that starts on a request and dies before its reply.
class StandInPanel
{
public:
    enum class Act {
        Answer,           // "taken", then "ok"
        RefuseUntaken,    // "error busy", never started on
        TakeThenClose,    // "taken", then the connection closes
        TakeAfterTimeout, // nothing until the client has given up, then "taken"
    };

    StandInPanel(const QString &path, Act act)
        : m_listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const std::optional<sockaddr_un> address = queltor::socketAddress(path);
        if (!address || ::bind(m_listener.get(), reinterpret_cast<const sockaddr *>(&*address), sizeof *address) != 0
            || ::listen(m_listener.get(), 4) != 0)
            qFatal("the stand-in panel cannot listen");
        m_thread = std::thread([this, act] { serve(act); });
    }
    ~StandInPanel() { join(); }

    // Takes no more connections, once the one it serves is done with.
    void join()
    {
        if (m_thread.joinable()) {
            ::shutdown(m_listener.get(), SHUT_RDWR);
            m_thread.join();
        }
    }

    StandInPanel(const StandInPanel &) = delete;
    StandInPanel &operator=(const StandInPanel &) = delete;

    // Once joined: the last request line it read, and why a late "taken" could not go.
    QByteArray request;
    int lateSendError = 0;
    std::atomic<bool> clientDone{false};

private:
    static void send(int fd, QByteArrayView bytes)
    {
        ::send(fd, bytes.data(), std::size_t(bytes.size()), MSG_NOSIGNAL);
    }

    void serve(Act act)
    {
        for (;;) {
            const queltor::UniqueFd fd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!fd.isValid())
                return; // joined
            request.clear();
            char c = 0;
            while (::recv(fd.get(), &c, 1, 0) == 1 && c != '\n')
                request += c;
            switch (act) {
            case Act::Answer:
                send(fd.get(), "taken\nok\n");
                break;
            case Act::RefuseUntaken:
                send(fd.get(), "error busy too many clients\n");
                break;
            case Act::TakeThenClose:
                send(fd.get(), "taken\n");
                break;
            case Act::TakeAfterTimeout:
                while (!clientDone)
                    QThread::msleep(5);
                if (::send(fd.get(), "taken\n", 6, MSG_NOSIGNAL) < 0)
                    lateSendError = errno;
                break;
            }
        }
    }

    queltor::UniqueFd m_listener;
    std::thread m_thread;
};
