// ComSocketServer's Python class: every argument is converted here, then
// handed to the C++ server object.
#include "binding/com_socket_type.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/texts.hpp"
#include "binding/args.hpp"
#include "binding/blocking_wait.hpp"
#include "binding/python_action.hpp"
#include "binding/ref.hpp"
#include "binding/server_settings.hpp"
#include "binding/type.hpp"
#include "binding/values/enums.hpp"
#include "binding/values/result_payloads.hpp"

namespace vantu::py {
namespace {

using Server = Object<ServerCell>;

PyObject* server_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Signature<1> sig{"ComSocketServer", {"address"}};
        auto [address] = bind(sig, args, kwargs);
        std::string_view text = to_str({sig.function, "address"}, address);
        return new_com_socket_server(type, text);
    });
}

// The server holds only what this class gave it: PyAction and PyException.
PyObject* python_callable(const Action& action) {
    return static_cast<const PyAction&>(action).callable();
}

const PyException* session_exception(const Session* session) {
    if (!session || !session->over()) return nullptr;
    return static_cast<const PyException*>(session->exception());
}

// An action that refers to its server (a closure, a bound method) makes a
// reference cycle, which the collector can only break through these.
// So can the exception that ended a session, through its traceback.
int server_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    const ComSocketServer& server = server_cell(self).value;
    for (const auto& entry : server.actions()) Py_VISIT(python_callable(*entry.second));
    if (const PyException* exception = session_exception(server.last_session().get())) {
        Py_VISIT(exception->value());
        Py_VISIT(exception->traceback());
    }
    return 0;
}

// The server's references to Python objects go through deferred releases,
// which are carried out before these return.
int server_clear(PyObject* self) {
    server_cell(self).value.clear_references();
    drain_pending_releases();
    return 0;
}

void server_dealloc(PyObject* self) {
    dealloc_gc_object<ServerCell>(self);
    drain_pending_releases();
}

PyObject* get_address(PyObject* self, void*) {
    const std::string& address = server_cell(self).value.address();
    return PyUnicode_FromStringAndSize(address.data(), static_cast<Py_ssize_t>(address.size()));
}

PyObject* get_connected(PyObject* self, void*) {
    return PyBool_FromLong(server_cell(self).value.connected());
}

PyObject* seconds_object(const std::optional<double>& seconds) {
    if (!seconds) Py_RETURN_NONE;
    return PyFloat_FromDouble(*seconds);
}

// Attribute setters: the value is checked in full before anything changes.
template <class Assign>
int set_attribute(PyObject* self, PyObject* value, const char* name, Assign&& assign) {
    return boundary(
        [&] {
            if (!value) {
                PyErr_Format(PyExc_AttributeError, "cannot delete attribute '%s'", name);
                throw_error_already_set();
            }
            assign(server_cell(self).value, ArgName{nullptr, name});
            return 0;
        },
        -1);
}

PyObject* get_cycle(PyObject* self, void*) {
    return PyFloat_FromDouble(server_cell(self).value.loop_settings().cycle);
}

int set_cycle(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "cycle", [&](ComSocketServer& server, ArgName arg) {
        server.loop_settings().cycle = *to_seconds(arg, value, {false, true});
    });
}

PyObject* get_progress(PyObject* self, void*) {
    return PyBool_FromLong(server_cell(self).value.loop_settings().progress);
}

int set_progress(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "progress", [&](ComSocketServer& server, ArgName arg) {
        server.loop_settings().progress = to_bool(arg, value);
    });
}

PyObject* get_coalesce(PyObject* self, void*) {
    return PyBool_FromLong(server_cell(self).value.loop_settings().coalesce);
}

int set_coalesce(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "coalesce", [&](ComSocketServer& server, ArgName arg) {
        server.loop_settings().coalesce = to_bool(arg, value);
    });
}

PyObject* get_idle_timeout(PyObject* self, void*) {
    return seconds_object(server_cell(self).value.loop_settings().idle_timeout);
}

int set_idle_timeout(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "idle_timeout", [&](ComSocketServer& server, ArgName arg) {
        server.loop_settings().idle_timeout = to_seconds(arg, value, {true, false});
    });
}

PyObject* get_send_timeout(PyObject* self, void*) {
    return seconds_object(server_cell(self).value.send_timeout());
}

int set_send_timeout(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "send_timeout", [&](ComSocketServer& server, ArgName arg) {
        server.send_timeout() = to_seconds(arg, value, {true, false});
    });
}

PyObject* get_allow(PyObject* self, void*) {
    const std::shared_ptr<const AllowList>& allow = server_cell(self).value.allow();
    if (!allow) Py_RETURN_NONE;
    return str_tuple(allow->entries());
}

int set_allow(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "allow", [&](ComSocketServer& server, ArgName) {
        server.allow() = to_allow_list(value);
    });
}

PyObject* optional_str(const std::optional<std::string>& text) {
    if (!text) Py_RETURN_NONE;
    return PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
}

PyObject* get_web(PyObject* self, void*) { return optional_str(server_cell(self).value.web()); }

int set_web(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "web", [&](ComSocketServer& server, ArgName) {
        server.web() = to_web_address(value);
    });
}

PyObject* get_web_address(PyObject* self, void*) {
    return optional_str(server_cell(self).value.web_address());
}

PyObject* get_web_hosts(PyObject* self, void*) {
    return str_tuple(server_cell(self).value.web_hosts());
}

int set_web_hosts(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "web_hosts", [&](ComSocketServer& server, ArgName) {
        server.web_hosts() = to_host_names(value);
    });
}

PyObject* get_title(PyObject* self, void*) {
    return boundary([&] {
        const std::optional<std::string>& title = server_cell(self).value.title();
        return optional_str(title ? *title : default_title());
    });
}

int set_title(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "title", [&](ComSocketServer& server, ArgName arg) {
        server.title() = std::string(to_str(arg, value));
        server.publish_page();
    });
}

// With a web page, its title is the program's from the start.
void settle_title(ComSocketServer& server) {
    if (server.web() && !server.title()) server.title() = default_title();
}

PyObject* get_takeover(PyObject* self, void*) {
    return PyBool_FromLong(server_cell(self).value.takeover());
}

int set_takeover(PyObject* self, PyObject* value, void*) {
    return set_attribute(self, value, "takeover", [&](ComSocketServer& server, ArgName arg) {
        server.takeover() = to_bool(arg, value);
    });
}

// A method without arguments besides the object.
template <void (ComSocketServer::*method)()>
PyObject* call_no_args(PyObject* self, PyObject*) {
    return boundary([&] {
        ExclusiveAccess server(server_cell(self));
        ((*server).*method)();
        Py_RETURN_NONE;
    });
}

// open() keeps the interpreter lock and the object while it waits, as it
// always has, and runs the signal handlers itself: Ctrl-C then ends it.
PyObject* server_open(PyObject* self, PyObject*) {
    return boundary([&] {
        ExclusiveAccess server(server_cell(self));
        settle_title(*server);
        HoldingWaiter waiter;
        server->open(waiter);
        Py_RETURN_NONE;
    });
}

using Waiter = ReleasingWaiter<ComSocketServer>;

PyObject* server_accept(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return boundary([&] {
        static constexpr Signature<1> sig{"accept", {"timeout"}, 0};
        auto [timeout] = bind(sig, args, nargs, kwnames);
        const auto seconds = to_seconds({sig.function, "timeout"}, timeout, {true, true});
        ServerCell& cell = server_cell(self);
        ExclusiveAccess server(cell);
        settle_title(*server);
        Waiter waiter(cell);
        return PyBool_FromLong(server->accept(Deadline::after(seconds), waiter));
    });
}

// How the session ended, in Python: True, or the action's own exception, or
// ValueError with the decoder's text.
PyObject* session_result(const Session& session) {
    switch (session.why()) {
        case SessionEnd::ended: Py_RETURN_TRUE;
        case SessionEnd::action_raised: {
            const PyException* exception = session_exception(&session);
            PyObject* value = exception->value();
            PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(value))), Py_NewRef(value),
                          Py_XNewRef(exception->traceback()));
            return nullptr;
        }
        case SessionEnd::undecodable:
            raise_text(PyExc_ValueError, session.text());
            return nullptr;
    }
    return nullptr;
}

PyObject* server_wait(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
    return boundary([&]() -> PyObject* {
        static constexpr Signature<1> sig{"wait", {"timeout"}, 0};
        auto [timeout] = bind(sig, args, nargs, kwnames);
        const auto seconds = to_seconds({sig.function, "timeout"}, timeout, {true, true});
        ServerCell& cell = server_cell(self);
        std::shared_ptr<const Session> session;
        {
            ExclusiveAccess server(cell);
            Waiter waiter(cell);
            session = server->wait(Deadline::after(seconds), waiter);
        }
        if (!session) Py_RETURN_FALSE;
        return session_result(*session);
    });
}

PyObject* server_on(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        static constexpr Signature<3> sig{"on", {"id", "widget", "action"}};
        auto [id, widget, action] = bind(sig, args, nargs, kwnames);
        std::uint8_t id_value = to_u8({sig.function, "id"}, id);
        std::string_view widget_text = to_str({sig.function, "widget"}, widget);
        ExclusiveAccess server(server_cell(self));
        server->on(id_value, widget_text, std::make_unique<PyAction>(action));
        Py_RETURN_NONE;
    });
}

PyObject* server_get_action(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return boundary([&] {
        static constexpr Signature<1> sig{"_get_action", {"key"}};
        auto [key] = bind(sig, args, nargs, kwnames);
        std::string_view key_text = to_str({sig.function, "key"}, key);
        ExclusiveAccess server(server_cell(self));
        const Action* action = server->get_action(key_text);
        return Py_NewRef(action ? python_callable(*action) : Py_None);
    });
}

PyObject* server_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    return boundary([&] {
        static constexpr Signature<3> sig{"callback", {"id", "status", "data"}};
        auto [id, status, data] = bind(sig, args, nargs, kwnames);
        std::uint8_t id_value = to_u8({sig.function, "id"}, id);
        ServerStatus status_value = to_server_status({sig.function, "status"}, status);
        // Before the connection is looked at: a bad payload is fatal even
        // without one.
        ResultFrame frame{id_value, status_value, to_result_payload(data)};
        ServerCell& cell = server_cell(self);
        ExclusiveAccess server(cell);
        Waiter waiter(cell);
        server->callback(frame, waiter);
        Py_RETURN_NONE;
    });
}

constexpr int fast_keywords = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"open", server_open, METH_NOARGS, "open($self)\n--\n\n"},
    {"serve", call_no_args<&ComSocketServer::serve>, METH_NOARGS, "serve($self)\n--\n\n"},
    {"close", call_no_args<&ComSocketServer::close>, METH_NOARGS, "close($self)\n--\n\n"},
    {"on", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(server_on)), fast_keywords,
     "on($self, id, widget, action)\n--\n\n"},
    {"_get_action", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(server_get_action)),
     fast_keywords, "_get_action($self, key)\n--\n\n"},
    {"callback", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(server_callback)),
     fast_keywords, "callback($self, id, status, data)\n--\n\n"},
    {"accept", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(server_accept)),
     fast_keywords, "accept($self, timeout=None)\n--\n\n"},
    {"wait", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(server_wait)),
     fast_keywords, "wait($self, timeout=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getters[] = {
    {"address", get_address, nullptr, nullptr, nullptr},
    {"connected", get_connected, nullptr, nullptr, nullptr},
    {"cycle", get_cycle, set_cycle, nullptr, nullptr},
    {"progress", get_progress, set_progress, nullptr, nullptr},
    {"idle_timeout", get_idle_timeout, set_idle_timeout, nullptr, nullptr},
    {"send_timeout", get_send_timeout, set_send_timeout, nullptr, nullptr},
    {"allow", get_allow, set_allow, nullptr, nullptr},
    {"takeover", get_takeover, set_takeover, nullptr, nullptr},
    {"coalesce", get_coalesce, set_coalesce, nullptr, nullptr},
    {"web", get_web, set_web, nullptr, nullptr},
    {"web_address", get_web_address, nullptr, nullptr, nullptr},
    {"web_hosts", get_web_hosts, set_web_hosts, nullptr, nullptr},
    {"title", get_title, set_title, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(server_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(server_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(server_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(server_clear)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getters},
    {Py_tp_doc, const_cast<char*>("ComSocketServer(address)\n--\n\n")},
    {0, nullptr},
};

constexpr auto class_name = ConstText<>().add(texts::type_module).add("ComSocketServer");

PyType_Spec type_spec = {
    class_name.c_str(), sizeof(Server), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC, slots,
};

}  // namespace

PyTypeObject* com_socket_server_type() {
    static PyTypeObject* type = build_type(&type_spec);
    return type;
}

PyObject* new_com_socket_server(PyTypeObject* type, std::string_view address) {
    return new_object<ServerCell>(type, ComSocketServer(std::string(address), make_python_runner));
}

ServerCell& server_cell(PyObject* obj) { return value_of<ServerCell>(obj); }

}  // namespace vantu::py
