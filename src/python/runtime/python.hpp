#pragma once

// The one place that pulls in the interpreter's headers, so every unit sees the same settings:
// the stable ABI of 3.10 (set by the build) and Py_ssize_t lengths for "#" formats.
#ifndef Py_LIMITED_API
#error "the zelk module is built against the stable limited API only"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
