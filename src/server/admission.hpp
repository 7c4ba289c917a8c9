// Where a new client waits to be served. The raw listener's newcomers and
// the web page's WebSocket upgrades arrive here alike, and accept() takes
// them. A newcomer that arrives while a session is served ends it (with
// takeover): the server object, its accept() calls, its loops and the web
// listener share this object.
#pragma once

#include <memory>
#include <mutex>

#include "server/fd.hpp"
#include "server/session.hpp"
#include "server/transport.hpp"

namespace vantu {

class ServedConnection;

struct Newcomer {
    Fd connection;
    std::shared_ptr<const Transport> transport;
    explicit operator bool() const { return static_cast<bool>(connection); }
};

class Admission {
public:
    Admission();

    // Lets a newcomer in: it waits for take(), replacing an earlier one,
    // and ends the session that serve() named.
    void arrive(Newcomer newcomer);
    // The newcomer waiting, if one does.
    Newcomer take();
    // Readable while a newcomer waits.
    int newcomer_fd() const { return newcomer_event_.get(); }
    // Drops a waiting newcomer.
    void drop();

    // The session that a newcomer ends (takeover), and the connection held,
    // whose live session makes a web page's upgrade wait its turn.
    void serve(const std::shared_ptr<Session>& session);
    void hold(const std::shared_ptr<ServedConnection>& held);
    // Whether a connection is held whose session is not over.
    bool occupied() const;

private:
    mutable std::mutex mutex_;
    Newcomer newcomer_;
    Fd newcomer_event_;
    std::weak_ptr<Session> serving_;
    std::weak_ptr<ServedConnection> held_;
};

}  // namespace vantu
