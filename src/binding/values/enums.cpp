// The two enumeration classes, from one template over their member names.
#include "binding/values/enums.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "base/protocol.hpp"
#include "base/texts.hpp"
#include "binding/ref.hpp"
#include "binding/type.hpp"

namespace vantu::py {
namespace {

template <class E>
struct EnumInfo;

template <>
struct EnumInfo<ServerStatus> {
    static constexpr std::string_view name = "ServerStatus";
    static constexpr const auto& members = server_status_names;
};

template <>
struct EnumInfo<Protocol> {
    static constexpr std::string_view name = "Protocol";
    static constexpr const auto& members = protocol_names;
};

template <class E>
std::size_t discriminant(PyObject* self) {
    return static_cast<std::size_t>(value_of<E>(self));
}

template <class E>
constexpr std::size_t longest_repr() {
    std::size_t longest = 0;
    for (std::string_view member : EnumInfo<E>::members) longest = std::max(longest, member.size());
    return EnumInfo<E>::name.size() + 1 + longest;
}

// "ServerStatus.Idle", built in a stack buffer: the slot has no way to
// report a C++ allocation failure.
template <class E>
PyObject* enum_repr(PyObject* self) {
    constexpr std::string_view owner = EnumInfo<E>::name;
    const std::string_view member = EnumInfo<E>::members[discriminant<E>(self)];
    std::array<char, longest_repr<E>()> text;
    char* end = std::copy(owner.begin(), owner.end(), text.data());
    *end++ = '.';
    end = std::copy(member.begin(), member.end(), end);
    return PyUnicode_FromStringAndSize(text.data(), end - text.data());
}

template <class E>
PyObject* enum_int(PyObject* self) {
    return PyLong_FromSize_t(discriminant<E>(self));
}

// The integer `other` stands for: a member of the receiver's own class,
// or anything with __index__ that fits in a Py_ssize_t. Whatever fails is
// forgotten: a comparison must never raise.
template <class E>
std::optional<Py_ssize_t> operand_value(PyObject* self, PyObject* other) {
    if (Py_IS_TYPE(other, Py_TYPE(self))) return static_cast<Py_ssize_t>(discriminant<E>(other));
    if (!PyIndex_Check(other)) return std::nullopt;
    Py_ssize_t value = PyNumber_AsSsize_t(other, PyExc_OverflowError);
    if (value == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return std::nullopt;
    }
    return value;
}

// Only == and != are defined. Declining the rest lets Python raise its
// TypeError for ordering and fall back to identity for foreign operands.
template <class E>
PyObject* enum_richcompare(PyObject* self, PyObject* other, int op) {
    std::optional<Py_ssize_t> value = operand_value<E>(self, other);
    if (!value || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
    bool equal = static_cast<Py_ssize_t>(discriminant<E>(self)) == *value;
    return PyBool_FromLong(equal == (op == Py_EQ));
}

// Members are created once, as class attributes, and shared from then on.
template <class E>
PyTypeObject* build_enum(PyType_Spec* type_spec) {
    Ref type = Ref::steal(reinterpret_cast<PyObject*>(build_type(type_spec)));
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    const auto& members = EnumInfo<E>::members;
    for (std::size_t i = 0; i < members.size(); ++i) {
        Ref member = Ref::steal(new_object<E>(type_object, static_cast<E>(i)));
        // The names are string literals, so the views end in a NUL.
        set_class_attr(type_object, members[i].data(), member.get());
    }
    return reinterpret_cast<PyTypeObject*>(type.release());
}

// Equality without a hash: members cannot be set elements or dict keys.
// nb_int without nb_index: int() works, indexing does not.
template <class E>
struct EnumSlots {
    static inline PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<E>)},
        {Py_tp_repr, reinterpret_cast<void*>(enum_repr<E>)},
        {Py_tp_richcompare, reinterpret_cast<void*>(enum_richcompare<E>)},
        {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
        {Py_nb_int, reinterpret_cast<void*>(enum_int<E>)},
        {0, nullptr},
    };
};

constexpr unsigned enum_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

template <class E>
constexpr auto class_name = ConstText<>().add(texts::type_module).add(EnumInfo<E>::name);

PyType_Spec server_status_spec = {
    class_name<ServerStatus>.c_str(), sizeof(Object<ServerStatus>), 0, enum_flags,
    EnumSlots<ServerStatus>::slots,
};

PyType_Spec protocol_spec = {
    class_name<Protocol>.c_str(), sizeof(Object<Protocol>), 0, enum_flags,
    EnumSlots<Protocol>::slots,
};

}  // namespace

PyTypeObject* server_status_type() {
    static PyTypeObject* type = build_enum<ServerStatus>(&server_status_spec);
    return type;
}

PyTypeObject* protocol_type() {
    static PyTypeObject* type = build_enum<Protocol>(&protocol_spec);
    return type;
}

ServerStatus to_server_status(ArgName arg, PyObject* obj) {
    return value_of<ServerStatus>(to_instance(arg, obj, server_status_type()));
}

}  // namespace vantu::py
