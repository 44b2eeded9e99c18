// The DDE client of the application's DDE links: conversations opened on first use, advise loops
// on their items, one-shot requests, and the advise data that queues the dependent cells and
// posts a recalculation.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_DDE_CLIENT_H_
#define KORVEL_EXCEL_DDE_CLIENT_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/value.h"
#include "platform/dde.h"

namespace korvel {

class ExcelConnection;

// A server's item text as a value: a number when the whole text reads as one (an integer when it
// has no fraction and fits 32 bits), else the text.
Value ddeTextValue(std::u16string_view text);

class DdeClient {
 public:
  explicit DdeClient(ExcelConnection& connection) : connection_(connection) {}
  ~DdeClient();

  // Starts the client over the platform's Dde (client only); false without one.
  bool initialize();
  void uninitialize();
  bool initialized() const;

  // The item's text, as a number when it reads as one (an integer without a fraction); nullopt
  // when the conversation or the request fails.
  std::optional<Value> request(std::u16string_view service, std::u16string_view topic,
                               std::u16string_view item);
  // Advise data from the server: the cells the item feeds join the changed cells and a
  // recalculation is posted, unless a recalculation runs, a cell is being edited, the program's
  // events are off or its calculation is manual. Never throws.
  void onAdviseData(DdeConversation conversation, std::u16string_view item, std::string_view data);

 private:
  ExcelConnection& connection_;
  // (service, topic) upper-cased to the conversation.
  std::map<std::pair<std::u16string, std::u16string>, DdeConversation> conversations_;
  std::map<std::pair<DdeConversation, std::u16string>, bool> advising_;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_DDE_CLIENT_H_
