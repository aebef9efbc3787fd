#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace net {

// Small files that steer a run (update control files, the banner feed) are
// capped in total time; payload files and pictures may take as long as they
// keep moving.
enum class Kind { File, Control };

constexpr long kControlTotalSeconds = 60;
constexpr long kLowSpeedBytes = 1;    // per second...
constexpr long kLowSpeedSeconds = 30; // ...for this long ends a transfer
// No wait inside a transfer lasts longer than this before the calling
// thread gets a turn (the UI thread runs its event loop then).
constexpr int kTurnMilliseconds = 20;

// Shared between the thread that runs a transfer and whoever may stop it.
using CancelFlag = std::shared_ptr<std::atomic<bool>>;
inline CancelFlag MakeCancelFlag() { return std::make_shared<std::atomic<bool>>(false); }

// Options of one transfer.
struct Request {
    std::string url;
    std::string proxy;   // empty: the system's settings (libcurl's environment)
    std::string userPwd; // "user:password" for FTP; empty: anonymous
    std::string agent = "QuorlexUpdate";
    // The schemes the transfer may use, and be redirected to, in libcurl's
    // list form ("http,https"); empty: whatever libcurl was built with.
    // Anything that names its URL from a file off the network sets it: a
    // file:, dict: or gopher: URL would otherwise be fetched as well.
    std::string protocols;
    bool ftpPassive = true;
    bool keepAlive = false;
    bool noBody = false;  // connect and log in only
    bool post = false;    // an HTTP form post of postBody (which may be empty)
    std::string postBody;
    Kind kind = Kind::File;
    long connectTimeoutSeconds = 30;
    long lowSpeedBytes = kLowSpeedBytes;
    long lowSpeedSeconds = kLowSpeedSeconds;
    long totalSeconds = -1;   // -1: by kind; 0: no cap
    std::int64_t maxBytes = 0; // body size cap; 0: none
    CancelFlag cancel;         // set from any thread to stop the transfer
    // Asked on the transfer's own thread at every turn; false cancels.
    std::function<bool()> keepGoing;

    long TotalSeconds() const { return totalSeconds >= 0 ? totalSeconds : kind == Kind::Control ? kControlTotalSeconds : 0; }
};

// A transfer read block by block: libcurl pushes, this lets the caller pull
// up to N bytes at a time. Every wait inside is cut into turns of at most
// kTurnMilliseconds; on the UI thread each turn runs the event loop, so a
// stalled server never freezes the window. One session keeps its connection
// (and an FTP server's current folder) between transfers of a run.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts a transfer and waits until its headers are in; false when no
    // connection or request could be made (error() says why).
    bool Open(const Request& r);
    long Status() const;                // HTTP status, FTP reply code
    std::int64_t ContentLength() const; // -1 when not declared
    std::string ContentType() const;    // empty when not declared
    // Up to `max` bytes; 0 at the end, -1 on failure (timeout, cancel, size cap).
    std::int64_t Read(char* buffer, std::int64_t max);
    void Close();
    // Any thread: the running transfer ends at its next turn.
    void Cancel();
    bool Cancelled() const;
    const std::string& Error() const { return error_; }
    int ErrorCode() const { return code_; }

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
    std::string error_;
    int code_ = 0;
};

// Cancels every transfer running in the process now (the window closes).
void CancelAll();

// A whole small file (banner feeds, pictures).
struct Fetched {
    bool ok = false;
    long status = 0;
    std::string body;
    std::string error;
    bool cancelled = false;
};
// `keepGoing` is asked at every turn; false cancels. `maxBytes` caps the body.
Fetched FetchAll(const Request& r, std::int64_t maxBytes, const std::function<bool()>& keepGoing = {});

} // namespace net
