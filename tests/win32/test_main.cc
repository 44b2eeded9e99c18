#include <windows.h>
// The lean Windows header leaves COM out.
#include <objbase.h>

#include "tests/win32/check.h"

int main(int argc, char** argv) {
  CoInitialize(nullptr);
  int failed = korvel::win32::testing::runAll(argc > 1 ? argv[1] : nullptr);
  CoUninitialize();
  return failed == 0 ? 0 : 1;
}
