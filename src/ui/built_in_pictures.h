// The pictures that are part of the runtime's data: small PNG images that the runtime's own
// dialogs draw in their top-left corner.
#ifndef KORVEL_UI_BUILT_IN_PICTURES_H_
#define KORVEL_UI_BUILT_IN_PICTURES_H_

#include <string_view>

namespace korvel {

// A 32 x 32 RGBA picture of an information mark: the picture of the About box and the licence
// agreement. The bytes are a complete PNG file and live for the whole run.
std::string_view informationPicture();

}  // namespace korvel

#endif  // KORVEL_UI_BUILT_IN_PICTURES_H_
