#include "app/GlbStrings.h"

namespace lumivex {

const char* MessageKindCaption(std::uint8_t kind)
{
    switch (kind) {
        case 0:
            return SWarning;
        case 1:
            return SError;
        case 2:
            return SInformation;
        case 3:
            return SConfirmation;
        default:
            return "";
    }
}

}  // namespace lumivex
