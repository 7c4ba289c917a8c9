// Settings of the server object from Python values, checked in full before
// anything changes.
#include "binding/server_settings.hpp"

#include <string_view>

#include "binding/boundary.hpp"
#include "binding/ref.hpp"
#include "binding/type.hpp"
#include "server/address.hpp"

namespace vantu::py {
namespace {

std::string_view utf8(PyObject* text) {
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
    if (!bytes) throw_error_already_set();
    return {bytes, static_cast<std::size_t>(size)};
}

// Calls each(item, text) for the str items of a list or tuple `value`:
// TypeError, naming `what` (and `or_none` after the type), for anything else.
template <class Each>
void for_each_str(PyObject* value, const char* what, const char* or_none, Each&& each) {
    if (!PyList_Check(value) && !PyTuple_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be a list or tuple of str%s, not %.200s", what,
                     or_none, type_name(Py_TYPE(value)).c_str());
        throw_error_already_set();
    }
    Ref items = Ref::steal(PySequence_Tuple(value));
    if (!items) throw_error_already_set();
    for (Py_ssize_t i = 0; i < PyTuple_Size(items.get()); ++i) {
        PyObject* item = PyTuple_GetItem(items.get(), i);
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "%s entries must be str, not %.200s", what,
                         type_name(Py_TYPE(item)).c_str());
            throw_error_already_set();
        }
        each(item, utf8(item));
    }
}

}  // namespace

std::shared_ptr<const AllowList> to_allow_list(PyObject* value) {
    if (value == Py_None) return nullptr;
    auto allow = std::make_shared<AllowList>();
    for_each_str(value, "allow", ", or None", [&](PyObject* item, std::string_view text) {
        if (allow->add(text)) return;
        PyErr_Format(PyExc_ValueError,
                     "allow: %R is neither an IP address nor a network such as "
                     "\"192.168.1.0/24\"", item);
        throw_error_already_set();
    });
    return allow;
}

std::optional<std::string> to_web_address(PyObject* value) {
    if (value == Py_None) return std::nullopt;
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "web must be a str such as \"0.0.0.0:8080\", or None, not %.200s",
                     type_name(Py_TYPE(value)).c_str());
        throw_error_already_set();
    }
    const std::string_view text = utf8(value);
    if (!is_host_and_port(text)) {
        PyErr_Format(PyExc_ValueError,
                     "web: %R is not a host and a port such as \"0.0.0.0:8080\" or \"[::]:8080\"",
                     value);
        throw_error_already_set();
    }
    return std::string(text);
}

std::vector<std::string> to_host_names(PyObject* value) {
    std::vector<std::string> names;
    for_each_str(value, "web_hosts", "", [&](PyObject* item, std::string_view text) {
        // A name is checked as a host with a port would be.
        if (!is_host_and_port(std::string(text) + ":0") || text.front() == '[') {
            PyErr_Format(PyExc_ValueError, "web_hosts: %R is not a host name", item);
            throw_error_already_set();
        }
        names.emplace_back(text);
    });
    return names;
}

PyObject* str_tuple(const std::vector<std::string>& texts) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(texts.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyObject* text = PyUnicode_FromStringAndSize(texts[i].data(),
                                                     static_cast<Py_ssize_t>(texts[i].size()));
        if (!text) return nullptr;
        PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), text);
    }
    return tuple.release();
}

std::string default_title() {
    // sys.argv is borrowed; "-c" and "" stand for no script.
    PyObject* argv = PySys_GetObject("argv");
    if (argv && PyList_Check(argv) && PyList_Size(argv) > 0) {
        PyObject* first = PyList_GetItem(argv, 0);
        Py_ssize_t size = 0;
        const char* bytes = first && PyUnicode_Check(first) ? PyUnicode_AsUTF8AndSize(first, &size)
                                                            : nullptr;
        PyErr_Clear();
        std::string_view path = bytes ? std::string_view(bytes, static_cast<std::size_t>(size)) : "";
        path = path.substr(path.rfind('/') + 1);
        if (!path.empty() && path.front() != '-') return std::string(path);
    }
    return "vantu_protocol";
}

}  // namespace vantu::py
