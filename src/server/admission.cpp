// Newcomers handed from the listeners to accept().
#include "server/admission.hpp"

#include <utility>

#include "server/served_connection.hpp"

namespace vantu {

Admission::Admission() : newcomer_event_(new_event_fd()) {}

void Admission::arrive(Newcomer newcomer) {
    Newcomer replaced_newcomer;
    std::shared_ptr<Session> replaced;
    {
        std::lock_guard lock(mutex_);
        replaced_newcomer = std::exchange(newcomer_, std::move(newcomer));
        signal_event(newcomer_event_.get());
        replaced = serving_.lock();
        serving_.reset();
    }
    // The serve loop sees its session end and shuts its connection down.
    if (replaced) replaced->end();
}

Newcomer Admission::take() {
    std::lock_guard lock(mutex_);
    if (newcomer_) drain_event(newcomer_event_.get());
    return std::exchange(newcomer_, Newcomer{});
}

void Admission::drop() {
    Newcomer dropped = take();
}

void Admission::serve(const std::shared_ptr<Session>& session) {
    std::lock_guard lock(mutex_);
    serving_ = session;
}

void Admission::hold(const std::shared_ptr<ServedConnection>& held) {
    std::lock_guard lock(mutex_);
    held_ = held;
}

bool Admission::occupied() const {
    std::shared_ptr<ServedConnection> held;
    {
        std::lock_guard lock(mutex_);
        held = held_.lock();
    }
    if (!held || held->connection().broken()) return false;
    const std::shared_ptr<Session> session = held->session();
    return !(session && session->over());
}

}  // namespace vantu
