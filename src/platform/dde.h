// The dynamic data exchange client the runtime needs for the DDE links of its formulas: one client
// instance, conversations with a service and topic, advise loops on items and one-shot requests of
// their text, and the callback through which a server's advise data arrives.
//
// REQUIRES: every call is made on the host program's user-interface thread, and the callback runs
// on it too (from the message loop).
#ifndef KORVEL_PLATFORM_DDE_H_
#define KORVEL_PLATFORM_DDE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// A conversation; 0 is none.
using DdeConversation = uint64_t;

class Dde {
 public:
  virtual ~Dde() = default;

  // Advise data of an item: the conversation, the item's name and its data as the server sent it
  // in the text format (8-bit, possibly with a terminating zero byte).
  using AdviseCallback = std::function<void(DdeConversation conversation, std::u16string_view item,
                                            std::string_view data)>;

  // Starts the client; false when the system refuses. A second call replaces the callback.
  virtual bool initialize(AdviseCallback callback) = 0;
  // Ends the client and every conversation; doing it twice does nothing.
  virtual void uninitialize() = 0;
  virtual bool initialized() const = 0;

  // Connects to the server's topic; 0 when no server answers.
  virtual DdeConversation connect(std::u16string_view service, std::u16string_view topic) = 0;
  // Starts the server's advise loop on the item in the text format; false when the server refuses
  // or does not answer within the timeout.
  virtual bool startAdvise(DdeConversation conversation, std::u16string_view item,
                           uint32_t timeoutMilliseconds) = 0;
  // The item's data in the text format; nullopt when the server refuses or times out.
  virtual std::optional<std::string> request(DdeConversation conversation, std::u16string_view item,
                                             uint32_t timeoutMilliseconds) = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_DDE_H_
