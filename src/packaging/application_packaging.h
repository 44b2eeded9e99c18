// Saving a running application: its workbook with the user's current values and its compiled
// model written into the resources of the application's executable, in place or into a copy.
#ifndef KORVEL_PACKAGING_APPLICATION_PACKAGING_H_
#define KORVEL_PACKAGING_APPLICATION_PACKAGING_H_

#include <string>
#include <string_view>

#include "runtime/subsystems.h"

namespace korvel {

class ExcelConnection;
class Runtime;

class ApplicationPackaging : public Packaging {
 public:
  // REQUIRES: runtime and connection outlive the packaging.
  ApplicationPackaging(Runtime& runtime, ExcelConnection& connection);

  void saveAsExecutable() override { chooseAndSaveApplicationAs(); }
  void saveApplication() override;
  void saveApplicationAs(std::u16string_view path) override;
  void chooseAndSaveApplicationAs() override;
  void storeIntoExecutable() override;

 private:
  Runtime& runtime_;
  ExcelConnection& connection_;
};

}  // namespace korvel

#endif  // KORVEL_PACKAGING_APPLICATION_PACKAGING_H_
