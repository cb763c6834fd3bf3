#include <cstdint>
#include <cstring>

#include "colour_attribute.h"

namespace hueslice {

ColourAttribute resolveColourAttribute(const GB_Detail& detail) {
    ColourAttribute result{-1, UT_String("Cd"), UT_String("")};
    const int layerOffset = detail.detailAttribs().getOffset("currentlayer", 4, GB_ATTRIB_INT);
    if (layerOffset >= 0) {
        std::int32_t layer = 0;
        std::memcpy(&layer, detail.detailAttribData() + layerOffset, sizeof layer);
        if (layer != 1) {
            UT_String number;
            number.itoa(layer);
            result.name.append(number.buffer());
            result.prefix = "layer";
            result.prefix.append(number.buffer());
        }
    }
    result.offset = detail.primitiveAttribs().getOffset(result.name.buffer(), 12, GB_ATTRIB_FLOAT);
    return result;
}

}  // namespace hueslice
