// Config.to_json() and the static Config.from_json(s): the JSON document of a configuration.
#include <string>
#include <string_view>
#include <utility>

#include "tarvo_state.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::config::Config;

PyObject* config_to_json(PyObject* self, PyObject*) noexcept
{
    return guarded_in<PyObject*>(Py_TYPE(self), nullptr, [self](const ModuleState&) -> PyObject* {
        const std::string text = tarvo_core::config::to_json(as_value_object<Config>(self)->value);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

// The UTF-8 text of the argument `s`; null with an exception (noted with 's') when it is not
// a str or cannot be encoded (lone surrogates).
const char* document_text(PyObject* value, Py_ssize_t& length)
{
    if (!PyUnicode_Check(value)) {
        raise_not_instance(value, "str");
        add_argument_note("s");
        return nullptr;
    }
    const char* text = PyUnicode_AsUTF8AndSize(value, &length);
    if (text == nullptr) {
        add_argument_note("s");
    }
    return text;
}

PyObject* config_from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept
{
    ModuleState* state = first_module_state();
    if (state == nullptr) {
        return nullptr;
    }
    return guarded<PyObject*>(*state, nullptr, [=]() -> PyObject* {
        static constexpr const char* names[] = {"s"};
        const Signature signature{"Config.from_json()", names, 1, 1};
        PyObject* values[1] = {};
        if (!bind_fast_call(signature, args, nargs, kwnames, values)) {
            return nullptr;
        }
        Py_ssize_t length = 0;
        const char* text = document_text(values[0], length);
        if (text == nullptr) {
            return nullptr;
        }
        auto result = tarvo_core::config::from_json(
            std::string_view(text, static_cast<std::size_t>(length)));
        if (!result.ok()) {
            const tarvo_core::config::JsonError& error = result.error();
            const std::string message = error.description + " at line " +
                                        std::to_string(error.line) + " column " +
                                        std::to_string(error.column);
            raise_with_text(PyExc_ValueError, message);
            return nullptr;
        }
        return new_value_object(class_of<Config>(*state), std::move(result).value());
    });
}

PyMethodDef methods[] = {
    {"to_json", reinterpret_cast<PyCFunction>(slot_function(config_to_json)), METH_NOARGS,
     "to_json($self)\n--\n\n"},
    {"from_json", reinterpret_cast<PyCFunction>(slot_function(config_from_json)),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, "from_json(s)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* config_methods()
{
    return methods;
}

}  // namespace tarvo_py
