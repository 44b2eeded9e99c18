#include "hosts/win32/com_object.h"

#include "tests/win32/check.h"
