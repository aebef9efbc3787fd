#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace net {

// Options of one transfer.
struct Request {
    std::string url;
    std::string proxy;   // empty: the system's settings (libcurl's environment)
    std::string userPwd; // "user:password" for FTP; empty: anonymous
    std::string agent = "QuorlexUpdate";
    bool ftpPassive = true;
    bool keepAlive = false;
    bool noBody = false;   // connect and log in only
    std::string postBody;  // non-empty: an HTTP form post
    long connectTimeoutSeconds = 30;
};

// A transfer read block by block: libcurl pushes, this lets the caller pull
// up to N bytes at a time and run its event loop between blocks. One
// session keeps its connection (and an FTP server's current folder) between
// transfers of a run.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts a transfer and waits until its headers are in; false when no
    // connection or request could be made (error() says why).
    bool Open(const Request& r);
    long Status() const;          // HTTP status, FTP reply code
    std::int64_t ContentLength() const; // -1 when not declared
    std::string ContentType() const;    // empty when not declared
    // Up to `max` bytes; 0 at the end, -1 on failure.
    std::int64_t Read(char* buffer, std::int64_t max);
    void Close();
    const std::string& Error() const { return error_; }
    int ErrorCode() const { return code_; }

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
    std::string error_;
    int code_ = 0;
};

// A whole small file (banner feeds, pictures): body, or nullopt with the reason.
struct Fetched {
    bool ok = false;
    long status = 0;
    std::string body;
    std::string error;
};
// `keepGoing` is asked between blocks; false cancels.
Fetched FetchAll(const Request& r, std::int64_t maxBytes, const std::function<bool()>& keepGoing = {});

} // namespace net
