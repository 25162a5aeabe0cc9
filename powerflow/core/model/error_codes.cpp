#include "core/model/error_codes.hpp"

namespace gridfold::pf {

std::string_view error_text(int code) {
    switch (code) {
        case kOk:
            return "no error";
        case kNotInitialised:
            return "engine not initialised";
        case kInvalidBusNumber:
            return "bus number outside 1 to 999999";
        case kBusNotFound:
            return "bus not found";
        case kElementNotFound:
            return "element not found";
        case kDuplicate:
            return "key taken by another element";
        case kInvalidCode:
            return "integer code out of range";
        case kInvalidValue:
            return "value out of range";
        case kInvalidIdentifier:
            return "invalid identifier or name";
        case kNoMoreElements:
            return "no more elements";
        case kWalkNotStarted:
            return "walk not started at this bus";
        case kBusLimit:
            return "bus limit reached";
        case kFileNotFound:
            return "file not found";
        case kFileFormat:
            return "not a readable case file";
        case kFileWrite:
            return "file cannot be written";
        case kInvalidOption:
            return "invalid option";
        case kPlantMissing:
            return "no plant data at the bus";
        case kInvalidWinding:
            return "invalid winding";
        default:
            return "unknown error";
    }
}

}  // namespace gridfold::pf
