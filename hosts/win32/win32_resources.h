// Resources of executables through the system's resource update functions. A type is a name,
// stored upper-cased because the system upper-cases the names it looks resources up by; "#"
// followed by a number from 1 to 65535 is that numbered type, as the system reads such names.
// Ids are numbers from 1 to 65535.
#ifndef KORVEL_HOSTS_WIN32_WIN32_RESOURCES_H_
#define KORVEL_HOSTS_WIN32_WIN32_RESOURCES_H_

#include "platform/resources.h"

namespace korvel::win32 {

class Win32Resources : public Resources {
 public:
  // An update dropped without end() is discarded.
  std::unique_ptr<ResourceUpdate> beginUpdate(const std::u16string& executable,
                                              bool keepExisting) override;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_RESOURCES_H_
