#pragma once

// Nothing leaves the C API as an exception: a C caller cannot catch one, and it would end the
// process. The only ones the SDK can meet are the standard library's (memory running out while
// an operation builds a text or a list); the call then answers as failed.

#include "QRT_Types.h"

template <class Call>
int qrtGuarded(Call call) noexcept {
    try {
        return call();
    } catch (...) {
        return QRT_ERR_FAILED;
    }
}
