// The DDE client of the application's DDE links. Conversations and advise loops are the client's
// own bookkeeping; the model's link table is only read, to find the cells an item feeds, so that
// a saved model carries exactly the links it was built with.
#include "excel/dde_client.h"

#include <cmath>
#include <cstdint>
#include <exception>

#include "engine/engine.h"
#include "engine/number_text.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "util/text.h"

namespace korvel {

namespace {

// How long a server may take to answer one transaction.
constexpr uint32_t kTransactionTimeout = 1000;

// The server's text: 8-bit up to the first zero byte, each byte one unit.
std::u16string widenDdeText(std::string_view data) {
  std::u16string text;
  for (char byte : data) {
    if (byte == '\0') break;
    text.push_back(char16_t(static_cast<unsigned char>(byte)));
  }
  return text;
}

}  // namespace

Value ddeTextValue(std::u16string_view text) {
  double number = 0;
  if (!textToNumber(text, &number)) return Value::text(text);
  if (number == std::trunc(number) && number >= double(INT32_MIN) && number <= double(INT32_MAX)) {
    return Value::integer(int32_t(number));
  }
  return Value::number(number);
}

DdeClient::~DdeClient() {
  try {
    uninitialize();
  } catch (...) {
  }
}

bool DdeClient::initialize() {
  Dde* dde = connection_.runtime().platform().dde;
  if (dde == nullptr) return false;
  return dde->initialize([this](DdeConversation conversation, std::u16string_view item,
                                std::string_view data) { onAdviseData(conversation, item, data); });
}

void DdeClient::uninitialize() {
  Dde* dde = connection_.runtime().platform().dde;
  if (dde != nullptr && dde->initialized()) dde->uninitialize();
  // Ending the client ends every conversation; a later request connects again.
  conversations_.clear();
  advising_.clear();
}

bool DdeClient::initialized() const {
  Dde* dde = connection_.runtime().platform().dde;
  return dde != nullptr && dde->initialized();
}

std::optional<Value> DdeClient::request(std::u16string_view service, std::u16string_view topic,
                                        std::u16string_view item) {
  Dde* dde = connection_.runtime().platform().dde;
  if (dde == nullptr || !dde->initialized()) return std::nullopt;

  auto key = std::make_pair(toUpper(service), toUpper(topic));
  auto found = conversations_.find(key);
  DdeConversation conversation = found == conversations_.end() ? 0 : found->second;
  if (conversation == 0) {
    conversation = dde->connect(service, topic);
    // A server that did not answer is asked again on the next request.
    if (conversation == 0) return std::nullopt;
    conversations_[key] = conversation;
  }

  auto advise = std::make_pair(conversation, toUpper(item));
  if (!advising_[advise]) {
    advising_[advise] = dde->startAdvise(conversation, item, kTransactionTimeout);
  }

  std::optional<std::string> data = dde->request(conversation, item, kTransactionTimeout);
  if (!data) return std::nullopt;
  return ddeTextValue(widenDdeText(*data));
}

void DdeClient::onAdviseData(DdeConversation conversation, std::u16string_view item,
                             std::string_view /*data*/) {
  try {
    Runtime& runtime = connection_.runtime();
    // The callback can arrive from a message loop that a cycle or the cell editor runs; neither
    // may see the model change under it.
    if (runtime.calculation().recalculating || connection_.editTracking().editMode()) return;
    Engine* engine = runtime.engine();
    if (engine == nullptr) return;
    std::optional<bool> events = connection_.enableEvents();
    if (!events || !*events) return;
    if (connection_.readCalculation() == kCalculationManual) return;

    const std::pair<std::u16string, std::u16string>* names = nullptr;
    for (const auto& [key, handle] : conversations_) {
      if (handle == conversation) {
        names = &key;
        break;
      }
    }
    if (names == nullptr) return;

    CompiledModel& model = engine->model();
    bool queued = false;
    for (const DdeLink& link : model.ddeLinks) {
      if (!equalsNoCase(link.service, names->first) || !equalsNoCase(link.topic, names->second)) {
        continue;
      }
      for (const DdeItem& entry : link.items) {
        if (!equalsNoCase(entry.name, item)) continue;
        for (const CellRef& address : entry.cells) {
          if (Cell* cell = model.cellAt(address)) {
            engine->changedCells.push_back(cell);
            queued = true;
          }
        }
      }
    }
    if (queued) runtime.postDeferred(DEFER_RECALCULATE, 0);
  } catch (...) {
  }
}

}  // namespace korvel
