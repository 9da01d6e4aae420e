#include "remote_peer.h"

#include "platform/clock.h"
#include "remote/ws_peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace endurance {

RemotePeer::RemotePeer(int port, std::string password) : port_(port), password_(std::move(password))
{
    thread_ = std::thread([this] { loop(); });
}

RemotePeer::~RemotePeer()
{
    stop_ = true;
    thread_.join();
}

void RemotePeer::stall(double seconds)
{
    std::lock_guard lock(mutex_);
    request_ = Request::Stall;
    stallSeconds_ = seconds;
}

void RemotePeer::halfClose()
{
    std::lock_guard lock(mutex_);
    request_ = Request::HalfClose;
    halfCloseSeconds_ = -1;
}

void RemotePeer::drop()
{
    std::lock_guard lock(mutex_);
    request_ = Request::Drop;
}

std::map<std::string, long> RemotePeer::framesByTag() const
{
    std::lock_guard lock(mutex_);
    return tags_;
}

void RemotePeer::loop()
{
    while (!stop_) {
        session();
        reading_ = false;
        lastStatus_ = 0;
        for (int i = 0; i < 5 && !stop_; ++i)
            usleep(100000);
    }
}

// One connection, from the login to its end.
void RemotePeer::session()
{
    wstest::Peer peer(port_, 1.0);
    if (!peer.ok() || !peer.login(password_))
        return;
    ++logins_;
    reading_ = true;
    while (!stop_) {
        Request request;
        double stallFor;
        {
            std::lock_guard lock(mutex_);
            request = request_;
            stallFor = stallSeconds_;
            request_ = Request::None;
        }
        if (request == Request::Drop)
            return;
        if (request == Request::Stall) {
            reading_ = false;
            const double end = monoSeconds() + stallFor;
            while (!stop_ && monoSeconds() < end)
                usleep(50000);
            lastStatus_ = 0;
            reading_ = true;
        }
        if (request == Request::HalfClose) {
            reading_ = false;
            const double start = monoSeconds();
            ::shutdown(peer.fd(), SHUT_WR);
            halfCloseSeconds_ = peer.closedByUnit(30) ? monoSeconds() - start : 30.0;
            return;
        }
        pollfd p{peer.fd(), POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char byte;
        if (recv(peer.fd(), &byte, 1, MSG_PEEK) <= 0)
            return;  // the unit closed the connection
        const auto frame = peer.readFrame(2.0);
        if (!frame)
            return;
        {
            std::lock_guard lock(mutex_);
            ++tags_[frame->tag];
        }
        if (frame->tag == "ST")
            lastStatus_ = monoSeconds();
        else
            lastOther_ = monoSeconds();
        if (frame->tag == "SO" && frame->longForm && !peer.send(wstest::longFrame("SO", frame->data)))
            return;
    }
}

} // namespace endurance
