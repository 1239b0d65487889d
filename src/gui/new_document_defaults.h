// The program-wide settings of the next new document: kept by the main window, shown and
// changed by the "Nouveau" dialog, remembered until the program ends.
#pragma once

#include <cstdint>

namespace qm::gui {

struct NewDocumentDefaults {
    std::int8_t kind = 0;  // attractor kind code, 0 Icon
    std::int32_t width = 640;
    std::int32_t height = 480;
    std::uint8_t mode = 0;  // render mode index, 0 "Gaz"
    std::int8_t ifsMaps = 4;
    std::int8_t sprottOrder = 2;

    // The option createAttractor takes for a kind: the IFS map count, the Sprott order, or 0.
    std::int8_t optionFor(std::int8_t kindCode) const {
        return kindCode == 1 ? ifsMaps : kindCode == 9 ? sprottOrder : 0;
    }
};

// Image sides a document accepts, in pixels.
inline constexpr std::int32_t kMinImageSide = 16;
inline constexpr std::int32_t kMaxImageSide = 16384;

}  // namespace qm::gui
