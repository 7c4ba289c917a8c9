// The serve loop's thread: it drives the loop's steps with poll.
#include "server/serve_loop.hpp"

#include <pthread.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "base/console.hpp"
#include "base/texts.hpp"
#include "server/serve_steps.hpp"

namespace vantu {
namespace {

// Enough for the decoder and for Python code the actions run, whatever
// stack size the environment would hand a new thread.
constexpr std::size_t thread_stack_size = 8 * 1024 * 1024;

void drive(ServeSteps& steps) {
    while (!steps.done()) {
        ServeSteps::Wait wait = steps.next_wait();
        try {
            poll_until(wait.entries(), wait.deadline, OnSignal::retry);
        } catch (const OsError& e) {
            // poll fails only for want of memory or a broken descriptor
            // set: nothing this loop could serve through.
            report_fatal(std::string(texts::read_failed) + e.text());
            return;
        }
        steps.step(wait);
    }
}

void* loop_main(void* arg) {
    std::unique_ptr<ServeSteps> steps(static_cast<ServeSteps*>(arg));
    drive(*steps);
    steps->finish();
    return nullptr;
}

}  // namespace

void start_serve_loop(LoopStart start) {
    auto* steps = new ServeSteps(std::move(start));
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, thread_stack_size);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, loop_main, steps);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete steps;
        throw Fatal(std::string(texts::spawn_failed) + ": " + os_error_detail(rc));
    }
}

}  // namespace vantu
