#include "background_work.hpp"

namespace tarvo_py {

LockReleased::~LockReleased()
{
    calling_python(cancel_, [this] { PyEval_RestoreThread(state_); });
}

}  // namespace tarvo_py
