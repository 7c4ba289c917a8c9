// The web listener: a thread of its own that serves the page to any number
// of browsers, one request per connection, and turns a WebSocket upgrade
// into a newcomer for accept(). It never touches a session: page loads go
// on beside one without disturbing it. Every client is bounded: a head of
// 8 KiB, a few seconds to send it, a few dozen clients at once.
#pragma once

#include <pthread.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/admission.hpp"
#include "server/allow_list.hpp"
#include "server/fd.hpp"

namespace vantu {

namespace detail {
struct WebShared;
}

class WebServer {
public:
    // Starts answering on `listener`, a listening socket, handing upgraded
    // connections to `admission`. Throws vantu::Fatal when no thread can
    // be made.
    WebServer(Fd listener, std::shared_ptr<Admission> admission);
    // Stops answering and closes every connection not yet handed over.
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // "HOST:PORT" as bound: the port the system chose for port 0.
    const std::string& address() const { return address_; }

    // What the next requests are answered from.
    void set_page(std::string page);
    void set_policy(std::shared_ptr<const AllowList> allow, bool takeover,
                    std::vector<std::string> hosts);

private:
    static void* run(void* shared);

    std::string address_;
    std::shared_ptr<detail::WebShared> shared_;
    pthread_t thread_{};
};

}  // namespace vantu
