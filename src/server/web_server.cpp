// The web listener's thread: accepting, reading request heads, writing
// answers, and handing upgraded connections over.
#include "server/web_server.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <variant>

#include "base/console.hpp"
#include "base/http_request.hpp"
#include "base/texts.hpp"
#include "server/listener.hpp"
#include "server/poll.hpp"
#include "server/socket.hpp"
#include "server/web_routes.hpp"
#include "server/websocket_transport.hpp"

namespace vantu {
namespace {

// A browser sends its request at once: one that stalls is dropped.
constexpr double head_seconds = 5;
// After an answer, what the client still sends is read and dropped for a
// moment, so that closing does not reset the answer away.
constexpr double linger_seconds = 1;
// Browsers open a few connections at a time; more wait in the backlog.
constexpr std::size_t max_clients = 32;

std::string machine_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    // The short name: "robot" of "robot.home.lan", as "robot.local" is.
    return std::string(name, ::strnlen(name, sizeof name)).substr(0, std::string_view(name).find('.'));
}

}  // namespace

namespace detail {

struct WebShared {
    Fd listener;
    Fd stop;
    std::shared_ptr<Admission> admission;
    std::string machine = machine_name();
    std::mutex mutex;
    std::shared_ptr<const std::string> page = std::make_shared<const std::string>();
    std::shared_ptr<const AllowList> allow;
    bool takeover = false;
    std::shared_ptr<const std::vector<std::string>> hosts =
        std::make_shared<const std::vector<std::string>>();
};

}  // namespace detail

namespace {

using Shared = detail::WebShared;

struct Client {
    enum class State { reading, writing, lingering, done };
    Fd fd;
    State state = State::reading;
    std::string in;
    std::string out;
    std::size_t written = 0;
    bool upgrade = false;
    Deadline deadline = Deadline::after(head_seconds);

    explicit Client(Fd accepted) : fd(std::move(accepted)) {}
};

// The answer, from what the head holds and the policy of the moment.
void answer(Client& client, Shared& shared);

void serve(Shared& shared);

}  // namespace

WebServer::WebServer(Fd listener, std::shared_ptr<Admission> admission)
    : address_(local_address_text(listener.get())), shared_(std::make_shared<detail::WebShared>()) {
    shared_->listener = std::move(listener);
    shared_->stop = new_event_fd();
    shared_->admission = std::move(admission);
    if (const int rc = pthread_create(&thread_, nullptr, run, shared_.get()); rc != 0) {
        throw Fatal(std::string(texts::spawn_failed) + ": " + os_error_detail(rc));
    }
}

WebServer::~WebServer() {
    signal_event(shared_->stop.get());
    pthread_join(thread_, nullptr);
}

void WebServer::set_page(std::string page) {
    auto shared_page = std::make_shared<const std::string>(std::move(page));
    std::lock_guard lock(shared_->mutex);
    shared_->page = std::move(shared_page);
}

void WebServer::set_policy(std::shared_ptr<const AllowList> allow, bool takeover,
                           std::vector<std::string> hosts) {
    auto shared_hosts = std::make_shared<const std::vector<std::string>>(std::move(hosts));
    std::lock_guard lock(shared_->mutex);
    shared_->allow = std::move(allow);
    shared_->takeover = takeover;
    shared_->hosts = std::move(shared_hosts);
}

void* WebServer::run(void* shared) {
    serve(*static_cast<detail::WebShared*>(shared));
    return nullptr;
}

namespace {

void read_head(Client& client, Shared& shared) {
    char chunk[2048];
    const auto n = check_syscall_unless_busy(
        [&] { return ::recv(client.fd.get(), chunk, sizeof chunk, MSG_DONTWAIT); });
    if (!n) return;
    if (*n == 0) {
        client.state = Client::State::done;
        return;
    }
    client.in.append(chunk, static_cast<std::size_t>(*n));
    // Read again only once a line has ended: a head trickling in byte by
    // byte is not read over and over.
    if (std::string_view(chunk, static_cast<std::size_t>(*n)).find('\n') == std::string_view::npos &&
        client.in.size() <= http::max_head) {
        return;
    }
    answer(client, shared);
}

void write_answer(Client& client, Shared& shared) {
    while (client.written < client.out.size()) {
        const auto n = check_syscall_unless_busy([&] {
            return ::send(client.fd.get(), client.out.data() + client.written,
                          client.out.size() - client.written, MSG_NOSIGNAL | MSG_DONTWAIT);
        });
        if (!n) return;
        client.written += static_cast<std::size_t>(*n);
    }
    if (client.upgrade) {
        shared.admission->arrive({std::move(client.fd), websocket_transport()});
        client.state = Client::State::done;
        return;
    }
    ::shutdown(client.fd.get(), SHUT_WR);
    client.state = Client::State::lingering;
    client.deadline = Deadline::after(linger_seconds);
}

void linger(Client& client) {
    char chunk[2048];
    const auto n = check_syscall_unless_busy(
        [&] { return ::recv(client.fd.get(), chunk, sizeof chunk, MSG_DONTWAIT); });
    if (n && *n == 0) client.state = Client::State::done;
}

void answer(Client& client, Shared& shared) {
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(client.in.data()),
                                 client.in.size());
    const auto parsed = http::parse_request(bytes);
    if (std::holds_alternative<http::Incomplete>(parsed)) return;
    WebAnswer answered;
    if (const auto* refusal = std::get_if<http::Refusal>(&parsed)) {
        answered = answer_refusal(refusal->status);
    } else {
        const auto& request = std::get<http::Request>(parsed);
        std::shared_ptr<const std::string> page;
        std::shared_ptr<const std::vector<std::string>> hosts;
        bool takeover;
        {
            std::lock_guard lock(shared.mutex);
            page = shared.page;
            hosts = shared.hosts;
            takeover = shared.takeover;
        }
        const WebPolicy policy{*page, shared.machine, *hosts, shared.admission->occupied(), takeover};
        answered = answer_request(request, client.in.size() - request.head_size, policy);
    }
    client.out = std::move(answered.response);
    client.upgrade = answered.upgrade;
    client.in.clear();
    client.state = Client::State::writing;
    client.deadline = Deadline::after(head_seconds);
    write_answer(client, shared);
}

void step(Client& client, Shared& shared, short revents) {
    if (client.deadline.passed()) {
        client.state = Client::State::done;
        return;
    }
    if (!revents) return;
    try {
        switch (client.state) {
            case Client::State::reading: return read_head(client, shared);
            case Client::State::writing: return write_answer(client, shared);
            case Client::State::lingering: return linger(client);
            case Client::State::done: return;
        }
    } catch (const OsError&) {
        client.state = Client::State::done;  // the client reset: nothing to answer
    }
}

void accept_clients(Shared& shared, std::vector<Client>& clients) {
    std::shared_ptr<const AllowList> allow;
    {
        std::lock_guard lock(shared.mutex);
        allow = shared.allow;
    }
    while (clients.size() < max_clients) {
        Fd fd;
        try {
            fd = accept_allowed(shared.listener, allow.get());
        } catch (const OsError&) {
            return;  // a connection that went before it was taken, or no descriptors
        }
        if (!fd) {
            // Nothing waits, or a refused peer was reset: look again.
            pollfd entry{shared.listener.get(), POLLIN, 0};
            if (::poll(&entry, 1, 0) != 1) return;
            continue;
        }
        clients.emplace_back(std::move(fd));
    }
}

void serve(Shared& shared) {
    std::vector<Client> clients;
    std::vector<pollfd> entries;
    for (;;) {
        entries.assign({{shared.stop.get(), POLLIN, 0},
                        {clients.size() < max_clients ? shared.listener.get() : -1, POLLIN, 0}});
        Deadline next = Deadline::never();
        for (const Client& client : clients) {
            const short events = client.state == Client::State::writing ? POLLOUT : POLLIN;
            entries.push_back({client.fd.get(), events, 0});
            next = Deadline::earlier(next, client.deadline);
        }
        try {
            poll_until(entries, next, OnSignal::retry);
        } catch (const OsError& e) {
            write_line(2, {"The web page is not served any more: ", e.text()});
            return;
        }
        if (entries[0].revents) return;
        for (std::size_t i = 0; i < clients.size(); ++i) step(clients[i], shared, entries[i + 2].revents);
        std::erase_if(clients, [](const Client& c) { return c.state == Client::State::done; });
        if (entries[1].revents) accept_clients(shared, clients);
    }
}

}  // namespace
}  // namespace vantu
