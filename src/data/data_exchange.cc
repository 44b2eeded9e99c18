#include "data/data_exchange.h"

namespace korvel {

DataExchangeService::DataExchangeService(Runtime& runtime, ExcelConnection& connection)
    : runtime_(runtime), connection_(connection) {}

bool DataExchangeService::exportData(bool, std::u16string_view) { return false; }
void DataExchangeService::importData(std::u16string_view) {}
void DataExchangeService::importStartupData() {}

}  // namespace korvel
