#pragma once
// The remote peer of the campaign: connects to the unit's server, logs in, reads every frame
// the unit sends (its status frame each screen frame is the runner's sign that the screen
// loop presents frames), sends the unit's own audio back to it (audio both ways), and on
// request stalls (stops reading), half-closes its side or drops the connection; after any
// ending it connects again.
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace endurance {

class RemotePeer {
public:
    RemotePeer(int port, std::string password);
    ~RemotePeer();
    RemotePeer(const RemotePeer&) = delete;
    RemotePeer& operator=(const RemotePeer&) = delete;

    // Stops reading for `seconds` (the connection stays open).
    void stall(double seconds);
    // Shuts its writing side down and waits for the unit to close the connection.
    void halfClose();
    // Closes the connection at once; the next one follows.
    void drop();

    // Monotonic seconds of the last status frame (0: none yet on this connection).
    double lastStatus() const { return lastStatus_.load(); }
    // Monotonic seconds of the last frame of another kind (audio, spectrum, parameters:
    // sent by other threads than the screen loop).
    double lastOther() const { return lastOther_.load(); }
    // Logged in, reading, and not stalled.
    bool reading() const { return reading_.load(); }
    int logins() const { return logins_.load(); }
    // Monotonic seconds the unit took to close a half-closed connection, -1 while waiting
    // (or when it never did: the peer then gave up after 30 s).
    double lastHalfCloseSeconds() const { return halfCloseSeconds_.load(); }
    std::map<std::string, long> framesByTag() const;

private:
    enum class Request { None, Stall, HalfClose, Drop };
    void loop();
    void session();

    const int port_;
    const std::string password_;
    std::atomic<bool> stop_{false};
    std::atomic<double> lastStatus_{0}, lastOther_{0}, halfCloseSeconds_{0};
    std::atomic<bool> reading_{false};
    std::atomic<int> logins_{0};
    mutable std::mutex mutex_;
    Request request_ = Request::None;
    double stallSeconds_ = 0;
    std::map<std::string, long> tags_;
    std::thread thread_;
};

} // namespace endurance
