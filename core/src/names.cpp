#include "pyext/names.hpp"

namespace pyext {

Names names;

int names_init() {
#define PYEXT_NAME_INIT(member, text) \
    if (names.member == nullptr && (names.member = PyUnicode_InternFromString(text)) == nullptr) return -1;
    PYEXT_NAMES(PYEXT_NAME_INIT)
#undef PYEXT_NAME_INIT
    return 0;
}

}  // namespace pyext
