// The data exchange of a running application: export of the user's changed (and collected) cells
// to a data file, import of such a file into the model and the visible workbook, and the start-up
// import of the file the launcher names.
#ifndef KORVEL_DATA_DATA_EXCHANGE_H_
#define KORVEL_DATA_DATA_EXCHANGE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "data/data_file.h"
#include "runtime/subsystems.h"

namespace korvel {

class ExcelConnection;
class Runtime;

class DataExchangeService : public DataExchange {
 public:
  // REQUIRES: runtime and connection outlive the service.
  DataExchangeService(Runtime& runtime, ExcelConnection& connection);

  bool exportData(bool collected, std::u16string_view path) override;
  void importData(std::u16string_view path) override;
  void importStartupData() override;
  bool lastExportSucceeded() const override { return lastExportSucceeded_; }
  void clearLastExportSucceeded() override { lastExportSucceeded_ = false; }

 private:
  Runtime& runtime_;
  ExcelConnection& connection_;
  bool lastExportSucceeded_ = false;
};

}  // namespace korvel

#endif  // KORVEL_DATA_DATA_EXCHANGE_H_
