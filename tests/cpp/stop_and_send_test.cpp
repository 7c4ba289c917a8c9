// The two links between threads that close() and callback() rely on: the
// stop channel and the send lock that keeps one frame on the wire at a time.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "server/connection.hpp"
#include "server/frame_queue.hpp"
#include "server/stop_channel.hpp"
#include "test_bytes.hpp"

namespace vantu::test {
namespace {

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

TEST(StopChannel, MessagesComeBeforeTheDisconnection) {
    StopChannel channel = make_stop_channel();
    StopReceiver& receiver = channel.receiver;
    EXPECT_EQ(receiver.try_receive(), Receive::empty);
    EXPECT_FALSE(readable(receiver.wake_fd()));
    int ran = 0;
    EXPECT_TRUE(channel.sender.send([&] { ran += !receiver.pending(); }));
    EXPECT_TRUE(channel.sender.send());  // two stops are one
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(receiver.pending() && readable(receiver.wake_fd()));
    {
        StopSender gone = std::move(channel.sender);
    }
    EXPECT_TRUE(readable(receiver.gone_fd()));
    EXPECT_EQ(receiver.try_receive(), Receive::message);
    EXPECT_FALSE(receiver.pending() || readable(receiver.wake_fd()));
    EXPECT_EQ(receiver.try_receive(), Receive::disconnected);
}

TEST(StopChannel, NothingRunsOnceTheReceiverIsGone) {
    StopChannel channel = make_stop_channel();
    { StopReceiver gone = std::move(channel.receiver); }
    bool ran = false;
    EXPECT_FALSE(channel.sender.send([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(SendLock, AWaiterIsWokenByTheUnlock) {
    SendLock lock;
    ASSERT_TRUE(lock.try_lock());
    EXPECT_FALSE(lock.try_lock());
    EXPECT_FALSE(lock.lock_or_mark_wanted());
    EXPECT_FALSE(readable(lock.wake_fd()));
    lock.unlock();
    EXPECT_TRUE(readable(lock.wake_fd()));
    lock.consume_wake();
    EXPECT_FALSE(readable(lock.wake_fd()));
    ASSERT_TRUE(lock.try_lock());
    lock.unlock();
    EXPECT_FALSE(readable(lock.wake_fd()));  // nobody wanted it
    EXPECT_TRUE(lock.lock_or_mark_wanted());  // free: taken at once
    lock.unlock();
}

// Frames from several threads, each larger than the socket takes at once,
// arrive whole and one after another.
TEST(Connection, FramesFromManyThreadsArriveWhole) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    Fd reader(ends[1]);
    const int small = 4096;
    ::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    Connection connection{Fd(ends[0])};
    constexpr int threads = 4, frames = 20, size = 20000;
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([&, t] {
            PlainWaiter waiter;
            const Bytes head{static_cast<std::uint8_t>('a' + t)};
            const Bytes body(size - 1, static_cast<std::uint8_t>('a' + t));
            for (int i = 0; i < frames; ++i) {
                EXPECT_EQ(connection.send_frame(head, body, Deadline::never(), waiter), Sent::whole);
            }
        });
    }
    Bytes received(std::size_t{threads * frames * size});
    for (std::size_t at = 0; at < received.size();) {
        const ssize_t n = ::recv(reader.get(), received.data() + at, received.size() - at, 0);
        ASSERT_GT(n, 0);
        at += static_cast<std::size_t>(n);
    }
    for (auto& sender : senders) sender.join();
    for (std::size_t frame = 0; frame < received.size(); frame += size) {
        const Bytes one(received.begin() + frame, received.begin() + frame + size);
        EXPECT_EQ(one, Bytes(size, one[0])) << "frame " << frame / size << " is mixed";
    }
}

// Which frames a loop that skips stale positions runs, in order.
TEST(FrameQueue, SkipsOnlyPositionsWithANewerOneBehind) {
    auto joystick = [](std::uint8_t id, float x) {
        return Frame{id, {widget::Joystick{{x, 0}, 1}}};
    };
    auto press = [](std::uint8_t id, bool pressed) {
        return Frame{id, {widget::PressButton{pressed}}};
    };
    FrameQueue queue;
    for (const Frame& frame : {joystick(1, 1), press(2, true), joystick(1, 2), joystick(3, 1),
                               press(2, false), joystick(1, 3), press(2, true)}) {
        queue.push(frame);
    }
    std::vector<std::string> ran;
    while (std::optional<Frame> frame = queue.next()) ran.push_back(describe(*frame));
    EXPECT_EQ(ran, (std::vector<std::string>{
                       "2 PressButton{true}", "3 Joystick{1,0,1}", "2 PressButton{false}",
                       "1 Joystick{3,0,1}", "2 PressButton{true}"}));
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace vantu::test
