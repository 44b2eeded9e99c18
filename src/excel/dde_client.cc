// Placeholder until the DDE client lands.
#include "excel/dde_client.h"

namespace korvel {

DdeClient::~DdeClient() = default;
bool DdeClient::initialize() { return false; }
void DdeClient::uninitialize() {}
bool DdeClient::initialized() const { return false; }
std::optional<Value> DdeClient::request(std::u16string_view, std::u16string_view,
                                        std::u16string_view) {
  return std::nullopt;
}
void DdeClient::onAdviseData(DdeConversation, std::u16string_view, std::string_view) {}

}  // namespace korvel
