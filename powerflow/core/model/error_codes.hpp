// Error codes of the embedded engine. Every engine operation returns one of these as its
// integer ierr (0 on success); an operation that fails changes nothing. The same table is
// documented in powerflow/README.md.
#pragma once

#include <string_view>

namespace gridfold::pf {

inline constexpr int kOk = 0;
inline constexpr int kNotInitialised = 1;     // psseinit has not been called
inline constexpr int kInvalidBusNumber = 2;   // bus number outside 1..999999
inline constexpr int kBusNotFound = 3;        // no bus with that number in the working case
inline constexpr int kElementNotFound = 4;    // a change call or walk names an element that does not exist
inline constexpr int kDuplicate = 5;          // the key is taken by an element of another kind or orientation
inline constexpr int kInvalidCode = 6;        // an integer code outside its range
inline constexpr int kInvalidValue = 7;       // a real value outside its range, or not finite
inline constexpr int kInvalidIdentifier = 8;  // identifier or name too long, or holding a quote or line break
inline constexpr int kNoMoreElements = 9;     // a walk has returned every element
inline constexpr int kWalkNotStarted = 10;    // a walk call at a bus where no walk was started
inline constexpr int kBusLimit = 11;          // more buses than psseinit allowed
inline constexpr int kFileNotFound = 12;      // a case file that does not exist or cannot be opened
inline constexpr int kFileFormat = 13;        // a case file that is not a readable text case
inline constexpr int kFileWrite = 14;         // a file that cannot be written
inline constexpr int kInvalidOption = 15;     // an option or quantity name the operation does not know
inline constexpr int kPlantMissing = 16;      // a machine at a bus without plant data
inline constexpr int kInvalidWinding = 17;    // a winding number outside 1..3 or a two-winding transformer

// Short English meaning of a code, for progress lines and messages.
std::string_view error_text(int code);

}  // namespace gridfold::pf
