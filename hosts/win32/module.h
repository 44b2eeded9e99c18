// The module whose resources (the import dialog, the pictures) the adapters load: the library when
// it is loaded into the host program, the program itself otherwise.
#ifndef KORVEL_HOSTS_WIN32_MODULE_H_
#define KORVEL_HOSTS_WIN32_MODULE_H_

#include <windows.h>

namespace korvel::win32 {

HINSTANCE moduleInstance();
// Set once by the library's entry when the process loads it.
void setModuleInstance(HINSTANCE instance);

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_MODULE_H_
