#include "trajectory.hpp"

#include <new>
#include <string>
#include <utility>

#include "numpy_arrays.hpp"
#include "tarvo_core/fault.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::InternalFault;
using tarvo_core::config::Vec3;
using tarvo_core::solve::Trajectory;

struct TrajectoryObject {
    PyObject_HEAD
    Trajectory record;
    AccessCounter access;
};

TrajectoryObject* as_trajectory(PyObject* object) noexcept
{
    return reinterpret_cast<TrajectoryObject*>(object);
}

PyTypeObject* trajectory_type = nullptr;

PyObject* checked(PyObject* value)
{
    if (value == nullptr) {
        throw InternalFault("the interpreter returned no object for a trajectory value: " +
                            take_error_text());
    }
    return value;
}

PyObject* convert(const std::vector<Vec3>& vectors)
{
    return nx3(vectors);
}

PyObject* convert(const std::vector<double>& values)
{
    return vec1(values);
}

PyObject* convert(double value)
{
    return checked(PyFloat_FromDouble(value));
}

PyObject* convert(const std::string& text)
{
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Every getter: shared read access for the time it takes to build the value.
template <auto Field>
PyObject* get_field(PyObject* self, void*) noexcept
{
    return guarded<PyObject*>(nullptr, [self]() -> PyObject* {
        TrajectoryObject* object = as_trajectory(self);
        ReadAccess access(object->access);
        if (!access.held()) {
            return nullptr;
        }
        return convert(object->record.*Field);
    });
}

template <auto Field>
constexpr PyGetSetDef property(const char* name)
{
    return {name, get_field<Field>, nullptr, nullptr, nullptr};
}

PyGetSetDef properties[] = {
    property<&Trajectory::positions>("positions"),
    property<&Trajectory::velocities>("velocities"),
    property<&Trajectory::u_values>("u_values"),
    property<&Trajectory::thrusts>("thrusts"),
    property<&Trajectory::normalized_thrusts>("normalized_thrusts"),
    property<&Trajectory::z_values>("z_values"),
    property<&Trajectory::s_values>("s_values"),
    property<&Trajectory::time_points>("time_points"),
    property<&Trajectory::objective>("objective"),
    property<&Trajectory::final_mass>("final_mass"),
    property<&Trajectory::status>("status"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Releases the record's lists and status text; destruction cannot throw.
void trajectory_dealloc(PyObject* self) noexcept
{
    PyTypeObject* type = Py_TYPE(self);
    TrajectoryObject* object = as_trajectory(self);
    object->record.~Trajectory();
    object->access.~AccessCounter();
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

}  // namespace

PyTypeObject* ensure_trajectory_class()
{
    if (trajectory_type == nullptr) {
        PyType_Slot slots[] = {
            {Py_tp_dealloc, slot_function(trajectory_dealloc)},
            {Py_tp_getset, properties},
            {0, nullptr},
        };
        PyType_Spec type_spec{"tarvo._tarvo.PyTrajectory", static_cast<int>(sizeof(TrajectoryObject)), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
        trajectory_type = create_class(&type_spec);
    }
    return trajectory_type;
}

PyObject* new_trajectory_object(Trajectory&& trajectory)
{
    PyTypeObject* type = ensure_trajectory_class();
    if (type == nullptr) {
        return nullptr;
    }
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = allocate(type, 0);
    if (object == nullptr) {
        return nullptr;
    }
    TrajectoryObject* typed = as_trajectory(object);
    new (&typed->record) Trajectory(std::move(trajectory));
    new (&typed->access) AccessCounter();
    return object;
}

}  // namespace tarvo_py
