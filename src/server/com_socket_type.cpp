#include "server/com_socket_type.hpp"

#include "base/py/enums.hpp"
#include "binding/args.hpp"
#include "binding/blocking_wait.hpp"
#include "binding/type.hpp"

namespace vantu::py {
namespace {

using Server = Object<ServerCell>;

PyObject* server_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Signature<1> sig{"ComSocketServer", {"address"}};
        auto [address] = bind(sig, args, kwargs);
        std::string_view text = to_str({sig.function, "address"}, address);
        return new_object<ServerCell>(type, ComSocketServer(std::string(text)));
    });
}

// An action that refers to its server (a closure, a bound method) makes a
// reference cycle, which the collector can only break through these.
// So can the exception that ended a session, through its traceback.
int server_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    const ComSocketServer& server = server_cell(self).value;
    for (const auto& entry : server.actions()) Py_VISIT(entry.second.callable.get());
    if (const Session* session = server.last_session(); session && session->over()) {
        Py_VISIT(session->exception().value.get());
        Py_VISIT(session->exception().traceback.get());
    }
    return 0;
}

int server_clear(PyObject* self) {
    server_cell(self).value.clear_references();
    return 0;
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

// A method without arguments besides the object.
template <void (ComSocketServer::*method)()>
PyObject* call_no_args(PyObject* self, PyObject*) {
    return boundary([&] {
        ExclusiveAccess server(server_cell(self));
        ((*server).*method)();
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
            PyObject* exception = session.exception().value.get();
            PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))),
                          Py_NewRef(exception), Py_XNewRef(session.exception().traceback.get()));
            return nullptr;
        }
        case SessionEnd::undecodable: {
            const std::string& text = session.text();
            PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                                     "replace");
            if (!message) return nullptr;
            PyErr_SetObject(PyExc_ValueError, message);
            Py_DECREF(message);
            return nullptr;
        }
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
        server->on(id_value, widget_text, action);
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
        return server->get_action(key_text);
    });
}

PyObject* server_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    return boundary([&] {
        static constexpr Signature<3> sig{"callback", {"id", "status", "data"}};
        auto [id, status, data] = bind(sig, args, nargs, kwnames);
        std::uint8_t id_value = to_u8({sig.function, "id"}, id);
        ServerStatus status_value = to_server_status({sig.function, "status"}, status);
        ExclusiveAccess server(server_cell(self));
        server->callback(id_value, status_value, data);
        Py_RETURN_NONE;
    });
}

constexpr int fast_keywords = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"open", call_no_args<&ComSocketServer::open>, METH_NOARGS, "open($self)\n--\n\n"},
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
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(server_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_gc_object<ServerCell>)},
    {Py_tp_traverse, reinterpret_cast<void*>(server_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(server_clear)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getters},
    {Py_tp_doc, const_cast<char*>("ComSocketServer(address)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec type_spec = {
    "builtins.ComSocketServer", sizeof(Server), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC, slots,
};

}  // namespace

PyTypeObject* com_socket_server_type() {
    static PyTypeObject* type = build_type(&type_spec);
    return type;
}

PyObject* new_com_socket_server(std::string_view address) {
    return new_object<ServerCell>(com_socket_server_type(), ComSocketServer(std::string(address)));
}

ServerCell& server_cell(PyObject* obj) { return value_of<ServerCell>(obj); }

}  // namespace vantu::py
