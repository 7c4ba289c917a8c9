// The server core without Python: a serve loop over a socketpair, and the
// server object over loopback TCP, with actions that only record what they
// were given.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "server/com_socket.hpp"
#include "server/raw_transport.hpp"
#include "server/serve_loop.hpp"
#include "test_bytes.hpp"

namespace vantu::test {
namespace {

// What the actions of one test saw, shared with the loops' runners.
struct Seen {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
    bool finished = false;

    template <class Predicate>
    bool wait_until(Predicate ready) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return ready(*this); });
    }
};

struct Named final : Action {
    explicit Named(std::string name) : name(std::move(name)) {}
    std::unique_ptr<Action> clone() const override { return std::make_unique<Named>(name); }
    std::string name;
};

struct Marker final : Handle {};

// Records "action:frame"; an action named "fail" fails instead.
class Recorder final : public ActionRunner {
public:
    explicit Recorder(std::shared_ptr<Seen> seen) : seen_(std::move(seen)) {}
    std::optional<ActionFailure> run(const Action& action, const WidgetRegistry& event) override {
        const std::string& name = static_cast<const Named&>(action).name;
        std::lock_guard lock(seen_->mutex);
        seen_->events.push_back(name + ":" + describe(Frame{0, event}));
        seen_->changed.notify_all();
        if (name == "fail") return ActionFailure{"ValueError: boom", std::make_unique<Marker>()};
        return std::nullopt;
    }
    void pause() override {}
    void finish() override {
        std::lock_guard lock(seen_->mutex);
        seen_->finished = true;
        seen_->changed.notify_all();
    }

private:
    std::shared_ptr<Seen> seen_;
};

const LoopSettings live{.cycle = 0, .progress = false, .idle_timeout = std::nullopt};
const Bytes toggle_on = hex("92 03 81") + str("ToggleButton") + hex("91 C3");

void send_bytes(int fd, const Bytes& bytes) { ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }

Bytes receive_to_end(int fd) {
    Bytes out;
    std::uint8_t chunk[256];
    for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) out.insert(out.end(), chunk, chunk + n);
    return out;
}

// A serve loop on one end of a socketpair; the test is the client.
struct Loop {
    std::shared_ptr<Seen> seen = std::make_shared<Seen>();
    std::shared_ptr<ServedConnection> served;
    std::shared_ptr<Session> session;
    Fd client;

    explicit Loop(const LoopSettings& settings, std::initializer_list<std::pair<const char*, const char*>> actions) {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        client = Fd(ends[1]);
        served = std::make_shared<ServedConnection>(Fd(ends[0]), raw_transport());
        ActionTable table;
        for (const auto& [key, name] : actions) table.emplace(key, std::make_unique<Named>(name));
        ServedConnection::Serving serving = served->serve(settings);
        session = serving.session;
        start_serve_loop({served, std::move(serving), std::move(table), settings,
                          std::make_unique<Recorder>(seen)});
    }
    bool stop() { return served->stop_loop([] {}); }
    bool saw(std::size_t count) { return seen->wait_until([&](Seen& s) { return s.events.size() >= count; }); }
    bool ended() { return seen->wait_until([](Seen& s) { return s.finished; }); }
};

TEST(ServeLoop, FramesSplitAcrossWritesReachTheirActionsInOrder) {
    Loop loop(live, {{"ToggleButton_3", "toggle"}, {"ClickButton_1", "click"}});
    const Bytes click = hex("92 01 81") + str("ClickButton") + hex("90");
    const Bytes stream = toggle_on + click + toggle_on;
    for (std::size_t at = 0; at < stream.size(); at += 5) {
        send_bytes(loop.client.get(), Bytes(stream.begin() + at, stream.begin() + std::min(at + 5, stream.size())));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(loop.saw(3));
    EXPECT_EQ(loop.seen->events, (std::vector<std::string>{"toggle:0 ToggleButton{true}",
                                                           "click:0 ClickButton{}",
                                                           "toggle:0 ToggleButton{true}"}));
    EXPECT_TRUE(loop.stop());
    ASSERT_TRUE(loop.ended());
    EXPECT_TRUE(loop.session->over());
    EXPECT_EQ(receive_to_end(loop.client.get()), Bytes{});  // the stop shut the connection down
}

struct EndCase {
    const char* name;
    Bytes sent;
    SessionEnd why;
    std::string text;
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class SessionEnds : public testing::TestWithParam<EndCase> {};

// A live loop ends the session, shuts the connection down and stays until
// it is stopped.
TEST_P(SessionEnds, WithTheirReason) {
    Loop loop(live, {{"ToggleButton_3", "fail"}});
    if (GetParam().sent.empty()) ::shutdown(loop.client.get(), SHUT_WR);
    else send_bytes(loop.client.get(), GetParam().sent);
    EXPECT_EQ(receive_to_end(loop.client.get()), Bytes{});
    ASSERT_TRUE(loop.session->over());
    EXPECT_EQ(loop.session->why(), GetParam().why);
    EXPECT_EQ(loop.session->text(), GetParam().text);
    EXPECT_EQ(loop.session->exception() != nullptr, GetParam().why == SessionEnd::action_raised);
    EXPECT_FALSE(loop.seen->finished);
    EXPECT_TRUE(loop.stop());
    EXPECT_TRUE(loop.ended());
}

INSTANTIATE_TEST_SUITE_P(Live, SessionEnds, testing::Values(
    EndCase{"EndOfStream", {}, SessionEnd::ended, ""},
    EndCase{"ActionRaised", toggle_on, SessionEnd::action_raised, "Action failed ValueError: boom"},
    EndCase{"Undecodable", hex("91 03"), SessionEnd::undecodable,
            "invalid length 1, expected struct Frame with 2 elements"}
), [](const auto& info) { return std::string(info.param.name); });

TEST(ServeLoop, DefaultLoopEndsOnAFailureWithoutShuttingDown) {
    Loop loop(LoopSettings{}, {});
    send_bytes(loop.client.get(), hex("C1"));
    ASSERT_TRUE(loop.ended());
    EXPECT_EQ(loop.session->why(), SessionEnd::undecodable);
    EXPECT_FALSE(loop.stop());  // nothing left to stop
}

// The server object over loopback: accept, serve, callback bytes, close.
TEST(ComSocketServer, Lifecycle) {
    const auto seen = std::make_shared<Seen>();
    const int port = [] {
        Fd probe(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        ::bind(probe.get(), reinterpret_cast<sockaddr*>(&addr), size);
        ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&addr), &size);
        return int{ntohs(addr.sin_port)};
    }();
    ComSocketServer server("127.0.0.1:" + std::to_string(port),
                           [&] { return std::make_unique<Recorder>(seen); });
    PlainWaiter waiter;
    EXPECT_FALSE(server.accept(Deadline::after(0.05), waiter));
    EXPECT_THROW(server.serve(), ServerStateError);

    server.loop_settings() = live;
    server.on(3, "ToggleButton", std::make_unique<Named>("toggle"));
    std::thread client_thread;
    Bytes received;
    client_thread = std::thread([&] {
        Fd client(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        while (::connect(client.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        send_bytes(client.get(), toggle_on);
        received = receive_to_end(client.get());
    });
    ASSERT_TRUE(server.accept(Deadline::never(), waiter));
    EXPECT_TRUE(server.connected());
    server.serve();
    ASSERT_TRUE(seen->wait_until([](Seen& s) { return s.events.size() == 1; }));
    server.callback({1, ServerStatus::Idle, result::ConfirmResult{true}}, waiter);
    server.close();
    EXPECT_FALSE(server.connected());
    ASSERT_NE(server.wait(Deadline::after(10), waiter), nullptr);
    client_thread.join();
    EXPECT_EQ(to_hex(received), "93 01 A4 49 64 6C 65 81 AD 43 6F 6E 66 69 72 6D 52 65 73 75 6C 74 91 C3");
    EXPECT_NO_THROW(server.close());  // a live loop's close() may come twice
}

}  // namespace
}  // namespace vantu::test
